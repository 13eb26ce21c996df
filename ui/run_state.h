// Questions the dialog, the preview and the outline ask of the run's state, answered in one
// place so they cannot drift apart.
#pragma once

#include <cstdint>

#include "host/memory.h"
#include "host/plugin_globals.h"

namespace vexel {

// Start sets up the mask buffers only for a host mask, and the mask frame is then a block of our
// own; the selection bits are allocated before it, so they exist whenever this holds.
inline bool selectionMaskInUse() {
    return g.buffers.maskFrame.holding == Holding::block;
}

// True when the host draws the preview strips itself through its displayPixels callback.
inline bool hostDisplays() {
    return g.host.hostRecord != nullptr && filterRecord().displayPixels != nullptr;
}

// Bytes that may be written through a run buffer's address; none while it is not locked.
inline std::uint32_t lockedCapacity(const RunBuffer& buffer) {
    return buffer.address == nullptr ? 0 : blockSize(buffer.handle);
}

} // namespace vexel
