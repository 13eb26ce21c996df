// Allocate-and-lock and unlock-and-free for the run buffers.
#include "host/memory.h"

namespace vexel {

bool allocRunBuffer(RunBuffer& buffer, std::int32_t size) {
    BlockHandle block = allocBlock(size);
    if (block == nullptr) {
        buffer = RunBuffer{};
        return false;
    }
    buffer.holding = Holding::block;
    buffer.handle = block;
    buffer.address = static_cast<std::uint8_t*>(lockBlock(block));
    if (buffer.address == nullptr) { // a block we cannot address is no buffer at all
        freeBlock(block);
        buffer = RunBuffer{};
        return false;
    }
    return true;
}

void freeRunBuffer(RunBuffer& buffer) {
    if (buffer.holding != Holding::block) return;
    // A buffer may be kept unlocked until first use (the DIB buffer is); only a lock is undone.
    if (buffer.address != nullptr) unlockBlock(buffer.handle);
    freeBlock(buffer.handle);
    buffer = RunBuffer{};
}

} // namespace vexel
