#pragma once
// What the AC-3 encoder core is told for a run: the stream parameters, the
// coding switches, the two cross-check switches and the thread count. Filled
// once by the front end; the core never looks anywhere else for its
// configuration.

#include <cstdint>

#include "ac3/dynamic_range.h"
#include "ac3/stream_metadata.h"

namespace oskavi {

struct EncoderSettings {
    uint32_t bitrate_kbps = 448;
    int32_t dialnorm_db = -31;
    bool coupling = true;
    bool coupling_coordinate_reuse = true;
    bool block_switching = true;
    bool exponent_adaptation = true;
    bool hierarchical_transient_detector = true;
    // Cross-checks that never change the output: the MDCT through the dense
    // matrix kernel, and every frame-size probe as a full frame pack.
    bool dense_mdct = false;
    bool full_pack_probes = false;
    // What the stream says about the programme, the coded bandwidth and the
    // dynamic range control words; the defaults change nothing.
    StreamMetadata metadata;
    BandwidthSetting bandwidth;
    DrcProfile line_drc = DrcProfile::None;
    DrcProfile rf_drc = DrcProfile::None;
    // Threads encoding frames (1: every frame on the calling thread). The
    // output is the same for every count.
    uint32_t threads = 1;
};

}  // namespace oskavi
