// Fixed-width arithmetic with the wrap-around and truncation the module's formulas are defined
// with. Every narrowing is explicit and modular (well defined since C++20); products that may
// exceed 32 bits are formed in 64 bits first, so nothing here is signed overflow.
#pragma once

#include <algorithm>
#include <cstdint>

namespace vexel {

constexpr std::int16_t wrap16(std::int64_t v) {
    return static_cast<std::int16_t>(v);
}
constexpr std::int32_t wrap32(std::int64_t v) {
    return static_cast<std::int32_t>(v);
}

// 32-bit two's-complement product and sum, as 32-bit hardware computes them.
constexpr std::int32_t mulWrap32(std::int32_t a, std::int32_t b) {
    return wrap32(std::int64_t{a} * std::int64_t{b});
}
constexpr std::int32_t addWrap32(std::int32_t a, std::int32_t b) {
    return wrap32(std::int64_t{a} + std::int64_t{b});
}
constexpr std::int32_t subWrap32(std::int32_t a, std::int32_t b) {
    return wrap32(std::int64_t{a} - std::int64_t{b});
}

// Whole part of a 16.16 value (arithmetic shift; defined for negatives since C++20).
constexpr std::int32_t wholePart(std::int32_t fixed) {
    return fixed >> 16;
}
constexpr std::int32_t withWholePart(std::int32_t fixed, std::int32_t whole) {
    return wrap32((std::int64_t{whole} << 16) | (fixed & 0xFFFF));
}

constexpr std::int16_t min16(std::int16_t a, std::int16_t b) {
    return std::min(a, b);
}
constexpr std::int16_t max16(std::int16_t a, std::int16_t b) {
    return std::max(a, b);
}

} // namespace vexel
