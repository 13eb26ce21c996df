// Selector dispatch: what ENTRYPOINT1 does on every call.
#pragma once

#include <cstdint>

namespace vexel {

void dispatchSelector(std::int16_t selector, void* record, std::int16_t* result);
void prepareGeometry();
// Plane count and sizes from the FilterRecord's image mode and filter rectangle. Refuses (with a
// warning, runResult 1, false) a rectangle wider or higher than 32767 pixels.
bool readFilterGeometry();

} // namespace vexel
