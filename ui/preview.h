// Drawing the big preview: full redraws in strips of four rows and the 8 x 8 block around the
// centre.
#pragma once

#include <cstdint>

namespace vexel {

void redrawPreview();
void redrawAroundCenter(std::int16_t scope);

} // namespace vexel
