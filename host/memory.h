// Memory primitives every part allocates with: movable, zero-filled blocks, locked while a
// pointer into them is in use. The DLL implements them with the platform's global memory;
// native tests link a counting stand-in.
#pragma once

#include <cstdint>

#include "host/plugin_globals.h"

namespace vexel {

BlockHandle allocBlock(std::int32_t size); // nullptr on failure or for a negative size
void* lockBlock(BlockHandle block);
void unlockBlock(BlockHandle block);
void freeBlock(BlockHandle block);
std::uint32_t blockSize(BlockHandle block); // 0 for a handle that is not a live block

// Run-buffer helpers over the primitives: allocate-and-lock, and unlock-and-free of a buffer that
// is a block of our own (the other holdings are left as they are). A buffer whose address is none
// is taken to be unlocked.
bool allocRunBuffer(RunBuffer& buffer, std::int32_t size);
void freeRunBuffer(RunBuffer& buffer);

} // namespace vexel
