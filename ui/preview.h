// Drawing the big preview: full redraws in strips of four rows and the 8 x 8 block around the
// centre.
#pragma once

#include <cstdint>

namespace vexel {

void redrawPreview();
void redrawAroundCenter(std::int16_t scope);

// The live preview (dialog_win32.cpp): the centre was put down, by a click or at the end of a
// drag, and the preview follows it; and the live preview's timer fired.
void centreChangeEnded();
void liveTimerFired();

} // namespace vexel
