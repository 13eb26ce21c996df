// PLACEHOLDER: stand-ins until the preview rendering and the selection outline land. Delete this
// file in the commit that defines redrawPreview, redrawAroundCenter, buildSelectionOutline and
// outlineTick.
#include "ui/outline.h"
#include "ui/preview.h"

namespace vexel {
void redrawPreview() {}
void redrawAroundCenter(std::int16_t) {}
void buildSelectionOutline() {}
void outlineTick() {}
} // namespace vexel
