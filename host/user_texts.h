// Which language the user's texts (the dialog and the about box) are taken in, and reading one
// string out of a string-table block, kept free of the window system.
#pragma once

#include <cstdint>
#include <span>

namespace vexel {

// The resource language that holds the texts for a Windows UI language: the Chinese texts for
// every Chinese UI language (zh-CN, zh-TW, zh-HK, zh-SG, zh-MO and the neutral ones), the English
// texts for every other.
std::uint16_t textsLanguageFor(std::uint16_t uiLanguage);

// The UTF-16 code units (as little-endian bytes) of string `index` (0..15) of a string-table
// block; empty when the string is empty or the block ends before it.
std::span<const std::uint8_t> tableString(std::span<const std::uint8_t> block, std::int32_t index);

} // namespace vexel
