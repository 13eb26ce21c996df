#include "host/user_texts.h"

#include "resources/resource_ids.h"

namespace vexel {

std::uint16_t textsLanguageFor(std::uint16_t uiLanguage) {
    constexpr std::uint16_t kPrimaryChinese = 0x04;
    const auto primary = static_cast<std::uint16_t>(uiLanguage & 0x03FF);
    return primary == kPrimaryChinese ? res::kChineseTextsLanguage : res::kEnglishTextsLanguage;
}

std::span<const std::uint8_t> tableString(std::span<const std::uint8_t> block, std::int32_t index) {
    // Sixteen counted strings one after the other: a 16-bit count of code units, then the units.
    std::size_t offset = 0;
    for (std::int32_t n = 0; n <= index; ++n) {
        if (block.size() - offset < 2) return {};
        const std::size_t bytes =
            2 * (std::size_t{block[offset]} | std::size_t{block[offset + 1]} << 8);
        offset += 2;
        if (block.size() - offset < bytes) return {};
        if (n == index) return block.subspan(offset, bytes);
        offset += bytes;
    }
    return {};
}

} // namespace vexel
