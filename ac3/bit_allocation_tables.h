#pragma once
// A/52 tables of the parametric bit allocation and the mantissa quantisers,
// for a 48 kHz stream (fscod 0). Indexed by the bit-stream code, band, bin or
// bap exactly as A/52 indexes them.

#include <array>
#include <cstdint>

namespace oskavi::a52 {

inline constexpr int kBandCount = 50;

// Slow decay per sdcycod.
inline constexpr std::array<int32_t, 4> slowdec = {
    15, 17, 19, 21,
};

// Fast decay per fdcycod.
inline constexpr std::array<int32_t, 4> fastdec = {
    63, 83, 103, 123,
};

// Slow gain per sgaincod.
inline constexpr std::array<int32_t, 4> slowgain = {
    1344, 1240, 1144, 1040,
};

// dB per bit per dbpbcod; the looked-up value is dbknee.
inline constexpr std::array<int32_t, 4> dbpbtab = {
    0, 1792, 2304, 2816,
};

// Masking floor per floorcod (the last entry is the 16-bit pattern 0xf800).
inline constexpr std::array<int32_t, 8> floortab = {
    752, 688, 624, 560, 496, 368, 240, -2048,
};

// Fast gain per fgaincod (also cplfgaincod and lfefgaincod).
inline constexpr std::array<int32_t, 8> fastgain = {
    128, 256, 384, 512, 640, 768, 896, 1024,
};

// First bin of each of the 50 bands; band 49 ends at bin 252.
inline constexpr std::array<uint8_t, 50> bndtab = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9,
    10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
    20, 21, 22, 23, 24, 25, 26, 27, 28, 31,
    34, 37, 40, 43, 46, 49, 55, 61, 67, 73,
    79, 85, 97, 109, 121, 133, 157, 181, 205, 229,
};

// Bins per band; bndtab[k] + bndsz[k] = bndtab[k + 1].
inline constexpr std::array<uint8_t, 50> bndsz = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 3, 3,
    3, 3, 3, 3, 3, 6, 6, 6, 6, 6,
    6, 12, 12, 12, 12, 24, 24, 24, 24, 24,
};

// Band of every bin the allocation can reach (bins 0..252): the highest band
// whose first bin is not above the bin.
inline constexpr std::array<uint8_t, 253> masktab = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9,
    10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
    20, 21, 22, 23, 24, 25, 26, 27, 28, 28,
    28, 29, 29, 29, 30, 30, 30, 31, 31, 31,
    32, 32, 32, 33, 33, 33, 34, 34, 34, 35,
    35, 35, 35, 35, 35, 36, 36, 36, 36, 36,
    36, 37, 37, 37, 37, 37, 37, 38, 38, 38,
    38, 38, 38, 39, 39, 39, 39, 39, 39, 40,
    40, 40, 40, 40, 40, 41, 41, 41, 41, 41,
    41, 41, 41, 41, 41, 41, 41, 42, 42, 42,
    42, 42, 42, 42, 42, 42, 42, 42, 42, 43,
    43, 43, 43, 43, 43, 43, 43, 43, 43, 43,
    43, 44, 44, 44, 44, 44, 44, 44, 44, 44,
    44, 44, 44, 45, 45, 45, 45, 45, 45, 45,
    45, 45, 45, 45, 45, 45, 45, 45, 45, 45,
    45, 45, 45, 45, 45, 45, 45, 46, 46, 46,
    46, 46, 46, 46, 46, 46, 46, 46, 46, 46,
    46, 46, 46, 46, 46, 46, 46, 46, 46, 46,
    46, 47, 47, 47, 47, 47, 47, 47, 47, 47,
    47, 47, 47, 47, 47, 47, 47, 47, 47, 47,
    47, 47, 47, 47, 47, 48, 48, 48, 48, 48,
    48, 48, 48, 48, 48, 48, 48, 48, 48, 48,
    48, 48, 48, 48, 48, 48, 48, 48, 48, 49,
    49, 49, 49, 49, 49, 49, 49, 49, 49, 49,
    49, 49, 49, 49, 49, 49, 49, 49, 49, 49,
    49, 49, 49,
};

// Log-addition table, indexed by min(|difference| >> 1, 255).
inline constexpr std::array<int32_t, 256> latab = {
    64, 63, 62, 61, 60, 59, 58, 57, 56, 55,
    54, 53, 52, 52, 51, 50, 49, 48, 47, 47,
    46, 45, 44, 44, 43, 42, 41, 41, 40, 39,
    38, 38, 37, 36, 36, 35, 35, 34, 33, 33,
    32, 32, 31, 30, 30, 29, 29, 28, 28, 27,
    27, 26, 26, 25, 25, 24, 24, 23, 23, 22,
    22, 21, 21, 21, 20, 20, 19, 19, 19, 18,
    18, 18, 17, 17, 17, 16, 16, 16, 15, 15,
    15, 14, 14, 14, 13, 13, 13, 13, 12, 12,
    12, 12, 11, 11, 11, 11, 10, 10, 10, 10,
    10, 9, 9, 9, 9, 9, 8, 8, 8, 8,
    8, 8, 7, 7, 7, 7, 7, 7, 6, 6,
    6, 6, 6, 6, 6, 6, 5, 5, 5, 5,
    5, 5, 5, 5, 4, 4, 4, 4, 4, 4,
    4, 4, 4, 4, 4, 3, 3, 3, 3, 3,
    3, 3, 3, 3, 3, 3, 3, 3, 3, 2,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    2, 2, 2, 2, 2, 2, 2, 2, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0,
};

// Hearing threshold per band at 48 kHz.
inline constexpr std::array<int32_t, 50> hth = {
    1232, 1232, 1088, 1024, 992, 960, 944, 944, 928, 928,
    928, 928, 928, 912, 912, 912, 896, 896, 880, 880,
    864, 864, 848, 848, 832, 832, 816, 800, 784, 768,
    752, 752, 752, 752, 768, 784, 832, 912, 992, 1056,
    1120, 1168, 1184, 1120, 1088, 1088, 1312, 2048, 2112, 2112,
};

// Bit-allocation pointer per clamped address (psd - mask) >> 5.
inline constexpr std::array<uint8_t, 64> baptab = {
    0, 1, 1, 1, 1, 1, 2, 2, 3, 3,
    3, 4, 4, 5, 5, 6, 6, 6, 6, 7,
    7, 7, 7, 8, 8, 8, 8, 9, 9, 9,
    9, 10, 10, 10, 10, 11, 11, 11, 11, 12,
    12, 12, 12, 13, 13, 13, 13, 14, 14, 14,
    14, 14, 14, 14, 14, 15, 15, 15, 15, 15,
    15, 15, 15, 15,
};

// Bits of one ungrouped mantissa per bap; 0 for bap 0 and for the always
// grouped bap 1, 2 and 4.
inline constexpr std::array<uint8_t, 16> mant_width = {
    0, 0, 0, 3, 0, 4, 5, 6, 7, 8,
    9, 10, 11, 12, 14, 16,
};

// Quantiser levels per bap: symmetric 3, 5, 7, 11, 15 for bap 1..5, then
// two's-complement quantisers of 2^mant_width levels.
inline constexpr std::array<uint32_t, 16> quant_levels = {
    0, 3, 5, 7, 11, 15, 32, 64, 128, 256,
    512, 1024, 2048, 4096, 16384, 65536,
};

}  // namespace oskavi::a52
