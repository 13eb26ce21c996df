#include "tests/unit/memory_fake.h"

#include <cstdlib>

#include "host/memory.h"

namespace vexel::testing {

MemoryFake memoryFake;

namespace {
// Each block carries its size and lock count in front of the payload.
struct BlockHeader {
    std::uint32_t size;
    std::int32_t locks;
    std::uint64_t magic;
};
constexpr std::uint64_t kMagic = 0x5645584542304c4bULL;
BlockHeader* header(BlockHandle block) {
    return static_cast<BlockHeader*>(block);
}
} // namespace

} // namespace vexel::testing

namespace vexel {
using testing::memoryFake;

BlockHandle allocBlock(std::int32_t size) {
    ++memoryFake.allocations;
    if (size < 0) return nullptr;
    if (memoryFake.failAbove >= 0 && size > memoryFake.failAbove) return nullptr;
    if (memoryFake.failAt == memoryFake.allocations) return nullptr;
    if (memoryFake.failLiveAbove >= 0 && memoryFake.liveBytes + size > memoryFake.failLiveAbove)
        return nullptr;
    auto* h = static_cast<testing::BlockHeader*>(
        std::calloc(1, sizeof(testing::BlockHeader) + static_cast<std::size_t>(size)));
    if (h == nullptr) return nullptr;
    h->size = static_cast<std::uint32_t>(size);
    h->magic = testing::kMagic;
    ++memoryFake.liveBlocks;
    memoryFake.liveBytes += size;
    if (memoryFake.liveBytes > memoryFake.peakBytes) memoryFake.peakBytes = memoryFake.liveBytes;
    return h;
}

void* lockBlock(BlockHandle block) {
    if (block == nullptr) return nullptr;
    ++testing::header(block)->locks;
    ++memoryFake.liveLocks;
    return static_cast<std::uint8_t*>(block) + sizeof(testing::BlockHeader);
}

void unlockBlock(BlockHandle block) {
    if (block == nullptr || testing::header(block)->locks == 0) return;
    --testing::header(block)->locks;
    --memoryFake.liveLocks;
}

void freeBlock(BlockHandle block) {
    if (block == nullptr) return;
    auto* h = testing::header(block);
    --memoryFake.liveBlocks;
    memoryFake.liveBytes -= h->size;
    memoryFake.liveLocks -= h->locks;
    h->magic = 0;
    std::free(h);
}

std::uint32_t blockSize(BlockHandle block) {
    if (block == nullptr || testing::header(block)->magic != testing::kMagic) return 0;
    return testing::header(block)->size;
}

} // namespace vexel
