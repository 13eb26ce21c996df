// The animated dashed outline of the host's selection over the big preview.
#pragma once

#include <cstdint>

namespace vexel {

// The dialog's timer that moves the dashes: started with the outline, killed when the dialog ends.
inline constexpr std::uintptr_t kOutlineTimer = 1;

void buildSelectionOutline();
void outlineTick();
// Puts the outline back over a block of the big preview that was just drawn again, at the dash
// phase the rest of the edge shows. dc is the preview's HDC.
void restoreOutlineInBlock(void* dc, std::int16_t x, std::int16_t y, std::int16_t width,
                           std::int16_t height);

} // namespace vexel
