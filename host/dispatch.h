// Selector dispatch: what ENTRYPOINT1 does on every call.
#pragma once

#include <cstdint>

namespace vexel {

void dispatchSelector(std::int16_t selector, void* record, std::int16_t* result);
void prepareGeometry();

} // namespace vexel
