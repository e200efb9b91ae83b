#pragma once
// Stereo matrix-surround decode to a 5.1 bed: an adaptive steering decoder
// derives a centre from the in-phase part of L/R and a surround from the
// out-of-phase part, removes what it steers from L and R, and delays the
// surround. The LFE stays silent.

#include <cstdint>

#include "dsp/preprocess_settings.h"
#include "input/pcm_buffer.h"

namespace oskavi {

struct MatrixDecodeStats {
    double max_centre_steer = 0.0;
    double max_surround_steer = 0.0;
    double rear_delay_ms = 20.0;
};

struct MatrixSteeringState {
    double sample_rate = 0.0;
    double smoothing = 0.0;  // one-pole coefficient, 20 ms time constant
    double e_ll = 1e-12;
    double e_rr = 1e-12;
    double e_lr = 0.0;
    double centre = 0.0;    // smoothed centre gain, 0..1
    double surround = 0.0;  // smoothed surround gain, 0..1
    MatrixDecodeStats stats;
};

struct SteeredSample {
    double left;
    double right;
    double centre;
    double surround;
};

// The checks of a --matrix-decode request, each called where its route
// checks it: the source must be canonical stereo, the rear delay within
// 0..40 ms, and the bed's LFE is silent or bass-managed, never generated.
void check_matrix_source(uint32_t channels, ChannelLayout layout);
void check_matrix_rear_delay(double rear_delay_ms);
void check_matrix_bass_mode(const PreprocessSettings& options);

MatrixSteeringState init_matrix_steering(uint32_t sample_rate);
SteeredSample steer_sample(MatrixSteeringState& state, double left, double right);

// Rear delay in frames at the input rate.
uint64_t matrix_rear_delay_frames(uint32_t sample_rate, double rear_delay_ms);

// Stereo to 6-channel Surround51 at the input's rate, frames_in + delay
// frames long, normalised to a peak of 1.0 when it would exceed it.
PcmBuffer matrix_decode(const PcmBuffer& stereo, double rear_delay_ms, MatrixDecodeStats* stats);

}  // namespace oskavi
