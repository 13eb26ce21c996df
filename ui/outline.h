// The animated dashed outline of the host's selection over the big preview.
#pragma once

namespace vexel {

void buildSelectionOutline();
void outlineTick();

} // namespace vexel
