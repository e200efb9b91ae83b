#pragma once
// The options that set what the stream carries beyond the coded audio: the
// bandwidth rule, the BSI metadata (service, mix levels, surround flags,
// copyright, production information, the alternate-syntax downmix block) and
// dynamic range control. Each value is checked as it is read; a bad value
// throws "<option> must be ..." naming the accepted values.

#include <span>
#include <string>
#include <string_view>

#include "ac3/encoder_settings.h"

namespace oskavi {

struct StreamOption {
    std::string_view name;
    bool takes_value;
    void (*apply)(EncoderSettings& settings, const std::string& value);
};

std::span<const StreamOption> stream_options();

}  // namespace oskavi
