// Global-memory primitives: movable, zero-filled blocks.
#include <windows.h>

#include "host/memory.h"

namespace vexel {

BlockHandle allocBlock(std::int32_t size) {
    if (size < 0) return nullptr;
    return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
}

void* lockBlock(BlockHandle block) {
    return GlobalLock(block);
}

void unlockBlock(BlockHandle block) {
    GlobalUnlock(block);
}

void freeBlock(BlockHandle block) {
    GlobalFree(block);
}

std::uint32_t blockSize(BlockHandle block) {
    if (block == nullptr) return 0;
    return static_cast<std::uint32_t>(GlobalSize(block));
}

} // namespace vexel
