#include "bitstream/crc.h"

#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace oskavi {
namespace {

constexpr uint16_t kPolynomial = 0x8005;  // x^16 + x^15 + x^2 + 1

constexpr std::array<uint16_t, 256> make_byte_table() {
    std::array<uint16_t, 256> table{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint16_t c = static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ kPolynomial : (c << 1));
        table[byte] = c;
    }
    return table;
}

// CRC update for one whole byte, equivalent to eight single-bit steps.
constexpr std::array<uint16_t, 256> kByteTable = make_byte_table();

// Slicing tables: kSliceTables[k][x] is what byte x contributes to the CRC
// register when k further zero bytes follow it. The CRC is linear, so the
// register after eight bytes is the xor of the eight bytes' contributions,
// the register's old value entering through the first two.
constexpr int kSliceBytes = 8;
using SliceTables = std::array<std::array<uint16_t, 256>, kSliceBytes>;

constexpr SliceTables make_slice_tables() {
    SliceTables tables{};
    tables[0] = kByteTable;
    for (int k = 1; k < kSliceBytes; ++k) {
        for (uint32_t x = 0; x < 256; ++x) {
            const uint16_t previous = tables[k - 1][x];
            tables[k][x] = static_cast<uint16_t>((previous << 8) ^ kByteTable[previous >> 8]);
        }
    }
    return tables;
}

constexpr SliceTables kSliceTables = make_slice_tables();

uint16_t crc_eight_bytes(uint16_t c, const uint8_t* p) {
    return static_cast<uint16_t>(
        kSliceTables[7][(c >> 8) ^ p[0]] ^ kSliceTables[6][(c & 0xFF) ^ p[1]] ^ kSliceTables[5][p[2]] ^
        kSliceTables[4][p[3]] ^ kSliceTables[3][p[4]] ^ kSliceTables[2][p[5]] ^ kSliceTables[1][p[6]] ^
        kSliceTables[0][p[7]]);
}

inline uint16_t crc_bit(uint16_t c, unsigned bit) {
    const unsigned top = c >> 15;
    return static_cast<uint16_t>(bit == top ? (c << 1) : ((c << 1) ^ kPolynomial));
}

inline unsigned bit_at(std::span<const uint8_t> bytes, uint64_t position) {
    return (bytes[position / 8] >> (7 - position % 8)) & 1u;
}

inline void set_bit(std::span<uint8_t> bytes, uint64_t position, bool value) {
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (position % 8));
    if (value)
        bytes[position / 8] |= mask;
    else
        bytes[position / 8] &= static_cast<uint8_t>(~mask);
}

using PatchKey = std::pair<uint32_t, uint32_t>;  // (field offset, region length), in bits

// Solves, by Gauss-Jordan elimination over GF(2), for the 16-bit field
// content whose contribution to the region CRC is exactly CRC bit `target`.
uint16_t solve_patch_word(const std::array<uint16_t, 16>& rows_in, int target) {
    std::array<uint16_t, 16> rows = rows_in;
    std::array<uint8_t, 16> rhs{};
    rhs[15 - target] = 1;
    std::array<int, 16> pivot_column{};
    int pivots = 0;
    for (int column = 0; column < 16; ++column) {
        int k = pivots;
        while (k < 16 && !((rows[k] >> column) & 1)) ++k;
        if (k == 16) continue;
        std::swap(rows[pivots], rows[k]);
        std::swap(rhs[pivots], rhs[k]);
        pivot_column[pivots] = column;
        for (int r = 0; r < 16; ++r) {
            if (r != pivots && ((rows[r] >> column) & 1)) {
                rows[r] ^= rows[pivots];
                rhs[r] ^= rhs[pivots];
            }
        }
        ++pivots;
    }
    if (pivots < 16) throw std::runtime_error("CRC patch matrix is singular");
    uint16_t word = 0;
    for (int i = 0; i < 16; ++i)
        if (rhs[i]) word = static_cast<uint16_t>(word | (1u << pivot_column[i]));
    return word;
}

CrcPatchTable build_patch_table(uint32_t field_offset, uint32_t region_length) {
    if (static_cast<uint64_t>(field_offset) + 16 > region_length)
        throw std::runtime_error("CRC patch field/region out of range");
    std::vector<uint8_t> scratch((static_cast<size_t>(region_length) + 7) / 8, 0);
    std::array<uint16_t, 16> columns{};
    for (uint32_t j = 0; j < 16; ++j) {
        set_bit(scratch, field_offset + j, true);
        columns[j] = crc16(scratch, 0, region_length, 0);
        set_bit(scratch, field_offset + j, false);
    }
    // Row r stands for CRC bit 15 - r; its bit j says whether field bit j feeds it.
    std::array<uint16_t, 16> rows{};
    for (int r = 0; r < 16; ++r)
        for (int j = 0; j < 16; ++j)
            if ((columns[j] >> (15 - r)) & 1) rows[r] = static_cast<uint16_t>(rows[r] | (1u << j));
    // Each solution is checked once here: the CRC is linear in the field, so
    // a patch made of correct solutions zeroes the region's CRC, and frames
    // need no second pass over their bytes.
    CrcPatchTable table{};
    for (int t = 0; t < 16; ++t) {
        table[t] = solve_patch_word(rows, t);
        for (uint32_t j = 0; j < 16; ++j) set_bit(scratch, field_offset + j, (table[t] >> j) & 1);
        if (crc16(scratch, 0, region_length, 0) != (1u << t))
            throw std::runtime_error("internal CRC patch verification failed");
    }
    return table;
}

struct PatchCache {
    std::mutex mutex;
    std::map<PatchKey, CrcPatchTable> tables;  // nodes never move: references stay valid
};

PatchCache& patch_cache() {
    static PatchCache cache;  // thread-safe one-time initialisation
    return cache;
}

}  // namespace

uint16_t crc16(std::span<const uint8_t> bytes, uint64_t start_bit, uint64_t bit_count, uint16_t initial) {
    uint16_t c = initial;
    uint64_t position = start_bit;
    const uint64_t end = start_bit + bit_count;
    while (position < end && position % 8 != 0) c = crc_bit(c, bit_at(bytes, position++));
    for (; position + 64 <= end; position += 64) c = crc_eight_bytes(c, bytes.data() + position / 8);
    for (; position + 8 <= end; position += 8)
        c = static_cast<uint16_t>((c << 8) ^ kByteTable[((c >> 8) ^ bytes[position / 8]) & 0xFF]);
    while (position < end) c = crc_bit(c, bit_at(bytes, position++));
    return c;
}

const CrcPatchTable& patch_table(uint32_t field_offset, uint32_t region_length) {
    PatchCache& cache = patch_cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    const PatchKey key{field_offset, region_length};
    auto found = cache.tables.find(key);
    if (found != cache.tables.end()) return found->second;
    CrcPatchTable table = build_patch_table(field_offset, region_length);
    return cache.tables.emplace(key, table).first->second;
}

void crc_patch(std::span<uint8_t> bytes, uint32_t field_position, uint32_t region_start, uint32_t region_length) {
    const uint64_t region_end = static_cast<uint64_t>(region_start) + region_length;
    if (region_start > field_position || static_cast<uint64_t>(field_position) + 16 > region_end ||
        region_end > 8ull * bytes.size())
        throw std::runtime_error("CRC patch field/region out of range");
    for (uint32_t j = 0; j < 16; ++j) set_bit(bytes, field_position + j, false);
    const uint16_t syndrome = crc16(bytes, region_start, region_length, 0);
    const CrcPatchTable& table = patch_table(field_position - region_start, region_length);
    uint16_t word = 0;
    for (int t = 0; t < 16; ++t)
        if ((syndrome >> t) & 1) word ^= table[t];
    // Field bit j (the j-th transmitted bit) is bit j of the patch word.
    for (uint32_t j = 0; j < 16; ++j) set_bit(bytes, field_position + j, (word >> j) & 1);
}

uint32_t crc1_region_bits(uint32_t frame_words) {
    const uint32_t words58 = (frame_words >> 1) + (frame_words >> 3);
    return words58 * 16 - 16;
}

void patch_frame_crcs(std::span<uint8_t> frame, uint32_t frame_words) {
    const uint32_t frame_bits = frame_words * 16;
    const uint32_t crc1_end = 16 + crc1_region_bits(frame_words);
    crc_patch(frame, 16, 16, crc1_end - 16);
    // crc2 protects everything after the syncword, but once crc1 is in place
    // the CRC register is zero at the end of crc1's region, so the CRC of
    // the whole is that of the rest from a zero register: crc2 is solved
    // over the rest alone.
    crc_patch(frame, frame_bits - 16, crc1_end, frame_bits - crc1_end);
}

}  // namespace oskavi
