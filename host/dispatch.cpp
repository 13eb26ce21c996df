// Selector dispatch: what every call of the entry point does.
#include "host/dispatch.h"

#include "host/descriptor.h"
#include "host/param_block.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "pipeline/continue_run.h"
#include "pipeline/run_plan.h"

namespace vexel {

void dispatchSelector(std::int16_t selectorValue, void* record, std::int16_t* result) {
    g.host.hostRecord = record;
    g.host.runResult = result::noErr;
    // Every selector but About works on the FilterRecord; without one there is nothing to do.
    const bool needsRecord =
        selectorValue >= selector::parameters && selectorValue <= selector::finish;
    if (needsRecord && record == nullptr) selectorValue = -1;
    switch (selectorValue) {
    case selector::about:
        showAboutBox();
        break;
    case selector::parameters:
        markShowDialog(1);
        break;
    case selector::prepare:
        prepareGeometry();
        break;
    case selector::start:
        registerViewClasses();
        // A played descriptor goes over whatever block the host or we hold.
        if (g.host.runResult == result::noErr) playDescriptor();
        if (g.host.runResult == result::noErr) planRun();
        break;
    case selector::continueRun:
        continueRun();
        break;
    case selector::finish:
        releaseRunResources();
        break;
    default:
        g.host.runResult = result::filterBadParameters;
        break;
    }
    if (result != nullptr) *result = g.host.runResult;
}

} // namespace vexel
