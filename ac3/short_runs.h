#pragma once
// Copies and fills of runs known to be short (at most a block's bins), in
// 16-byte pieces with an overlapping last piece. A variable-length std::copy
// or std::fill whose length the compiler can bound tends to become a string
// instruction (rep movs, rep stos), whose start-up costs more than the whole
// run on some processors; these runs sit in the innermost loops of the
// exponent-strategy search.

#include <array>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace oskavi {

template <typename T>
inline constexpr std::size_t kShortPiece = 16 / sizeof(T);

// dst[0..count) = src[0..count); the two must not overlap.
template <typename T>
inline void copy_short(T* dst, const T* src, std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T> && 16 % sizeof(T) == 0);
    constexpr std::size_t piece = kShortPiece<T>;
    if (count < piece) {
        for (std::size_t i = 0; i < count; ++i) dst[i] = src[i];
        return;
    }
    for (std::size_t i = 0; i + piece < count; i += piece) std::memcpy(dst + i, src + i, 16);
    std::memcpy(dst + count - piece, src + count - piece, 16);
}

// dst[0..count) = value.
template <typename T>
inline void fill_short(T* dst, std::size_t count, T value) {
    static_assert(std::is_trivially_copyable_v<T> && 16 % sizeof(T) == 0);
    constexpr std::size_t piece = kShortPiece<T>;
    if (count < piece) {
        for (std::size_t i = 0; i < count; ++i) dst[i] = value;
        return;
    }
    std::array<T, piece> pattern;
    pattern.fill(value);
    for (std::size_t i = 0; i + piece < count; i += piece) std::memcpy(dst + i, pattern.data(), 16);
    std::memcpy(dst + count - piece, pattern.data(), 16);
}

}  // namespace oskavi
