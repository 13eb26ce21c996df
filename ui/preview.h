// Drawing the big preview: full redraws in strips of four rows, the 8 x 8 block around the
// centre, and the byte copy shared with the outline.
#pragma once

#include <cstdint>

namespace vexel {

void redrawPreview();
void redrawAroundCenter(std::int16_t scope);
void copyBytes(const void* source, void* destination, std::uint16_t n);

} // namespace vexel
