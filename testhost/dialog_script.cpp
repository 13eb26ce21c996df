// Dialog scripting (a second thread drives the module's modal dialog).
#include "testhost/testhost.h"

namespace testhost {

bool loadScript(const std::string& path, std::string& error) {
    error = "scripts are not supported yet: " + path;
    return false;
}
void startScriptThread() {}
void waitScriptThread(DWORD) {}
void installScriptHooks() {}

} // namespace testhost
