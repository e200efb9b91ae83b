#include "app/stream_options.h"

#include <array>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "app/numeric_arguments.h"

namespace oskavi {
namespace {

template <typename T>
using Choices = std::span<const std::pair<std::string_view, T>>;

// The value of a keyword option; anything else is refused with the list.
template <typename T>
T choose(std::string_view option, const std::string& value, Choices<T> choices, std::string_view accepted) {
    for (const auto& [name, result] : choices) {
        if (name == value) return result;
    }
    throw std::runtime_error(std::string(option) + " must be " + std::string(accepted));
}

constexpr std::pair<std::string_view, uint8_t> kYesNoUnset[] = {{"unset", 0}, {"no", 1}, {"yes", 2}};
constexpr std::string_view kYesNoUnsetText = "yes, no or unset";

constexpr std::pair<std::string_view, uint8_t> kCentreLevels[] = {
    {"3", 0}, {"+3", 0}, {"1.5", 1}, {"+1.5", 1}, {"0", 2}, {"-1.5", 3},
    {"-3", 4}, {"-4.5", 5}, {"-6", 6}, {"off", 7}};
constexpr std::string_view kCentreLevelsText = "3, 1.5, 0, -1.5, -3, -4.5, -6 or off";
constexpr std::pair<std::string_view, uint8_t> kSurroundLevels[] = {
    {"-1.5", 3}, {"-3", 4}, {"-4.5", 5}, {"-6", 6}, {"off", 7}};
constexpr std::string_view kSurroundLevelsText = "-1.5, -3, -4.5, -6 or off";

constexpr std::pair<std::string_view, DrcProfile> kDrcProfiles[] = {
    {"none", DrcProfile::None},
    {"film-light", DrcProfile::FilmLight},
    {"film-standard", DrcProfile::FilmStandard},
    {"music-light", DrcProfile::MusicLight},
    {"music-standard", DrcProfile::MusicStandard},
    {"speech", DrcProfile::Speech}};
constexpr std::string_view kDrcProfilesText = "none, film-light, film-standard, music-light, music-standard or speech";

// bsmod 7 is a voice-over in a mono stream and karaoke in any other.
constexpr std::pair<std::string_view, uint8_t> kServices[] = {
    {"main", 0},       {"music-effects", 1}, {"visually-impaired", 2}, {"hearing-impaired", 3},
    {"dialogue", 4},   {"commentary", 5},    {"emergency", 6},         {"voice-over", 7},
    {"karaoke", 7}};
constexpr std::string_view kServicesText =
    "main, music-effects, visually-impaired, hearing-impaired, dialogue, commentary, emergency, "
    "voice-over (mono) or karaoke (other layouts)";

constexpr double kBinWidthHz = 93.75;  // 48 kHz / 512
constexpr uint32_t kMinEndmant = 73;   // chbwcod 0

BandwidthSetting parse_bandwidth(const std::string& value) {
    if (value == "auto") return {};
    if (value == "full") return {BandwidthMode::Full, 0};
    double hz = 0.0;
    try {
        hz = parse_stod_argument(value);
    } catch (const std::logic_error&) {
        hz = NAN;  // not a number: refused below with the option's own message
    }
    if (!(hz >= 7000.0 && hz <= 20500.0))
        throw std::runtime_error("--bandwidth must be auto, full or a frequency within 7000..20500 Hz");
    const auto bin = static_cast<uint32_t>(std::floor(hz / kBinWidthHz));
    return {BandwidthMode::Fixed, kMinEndmant + (bin - kMinEndmant) / 3 * 3};
}

ProductionInfo& production(EncoderSettings& s) {
    if (!s.metadata.production) s.metadata.production.emplace();
    return *s.metadata.production;
}

ExtendedDownmix& downmix(EncoderSettings& s) {
    if (!s.metadata.extended_downmix) s.metadata.extended_downmix.emplace();
    return *s.metadata.extended_downmix;
}

ExtendedFlags& flags(EncoderSettings& s) {
    if (!s.metadata.extended_flags) s.metadata.extended_flags.emplace();
    return *s.metadata.extended_flags;
}

uint8_t mixing_level(const std::string& value) {
    const int32_t db = parse_stoi_argument(value);
    if (db < 80 || db > 111) throw std::runtime_error("--mixing-level must be within 80..111 dB SPL");
    return static_cast<uint8_t>(db - 80);
}

template <typename T, std::size_t N>
constexpr Choices<T> all(const std::pair<std::string_view, T> (&table)[N]) {
    return Choices<T>(table, N);
}

constexpr std::pair<std::string_view, uint8_t> kCmixlev[] = {{"-3", 0}, {"-4.5", 1}, {"-6", 2}};
constexpr std::pair<std::string_view, uint8_t> kSurmixlev[] = {{"-3", 0}, {"-6", 1}, {"off", 2}};
constexpr std::pair<std::string_view, uint8_t> kRoomTypes[] = {{"unset", 0}, {"large", 1}, {"small", 2}};
constexpr std::pair<std::string_view, uint8_t> kDownmixModes[] = {{"unset", 0}, {"ltrt", 1}, {"loro", 2}};
constexpr std::pair<std::string_view, uint8_t> kConverters[] = {{"standard", 0}, {"hdcd", 1}};

using Settings = EncoderSettings;
using Value = const std::string&;

constexpr std::array<StreamOption, 19> kStreamOptions = {{
    {"--bandwidth", true, [](Settings& s, Value v) { s.bandwidth = parse_bandwidth(v); }},
    {"--center-mix-level", true,
     [](Settings& s, Value v) { s.metadata.cmixlev = choose("--center-mix-level", v, all(kCmixlev), "-3, -4.5 or -6"); }},
    {"--surround-mix-level", true,
     [](Settings& s, Value v) {
         s.metadata.surmixlev = choose("--surround-mix-level", v, all(kSurmixlev), "-3, -6 or off");
     }},
    {"--surround-encoded", true,
     [](Settings& s, Value v) {
         s.metadata.dsurmod = choose("--surround-encoded", v, all(kYesNoUnset), kYesNoUnsetText);
     }},
    {"--service", true, [](Settings& s, Value v) { s.metadata.bsmod = choose("--service", v, all(kServices), kServicesText); }},
    {"--copyright", false, [](Settings& s, Value) { s.metadata.copyrightb = true; }},
    {"--copy", false, [](Settings& s, Value) { s.metadata.origbs = false; }},
    {"--mixing-level", true, [](Settings& s, Value v) { production(s).mixlevel = mixing_level(v); }},
    {"--room-type", true,
     [](Settings& s, Value v) {
         production(s).roomtyp = choose("--room-type", v, all(kRoomTypes), "large, small or unset");
     }},
    {"--preferred-downmix", true,
     [](Settings& s, Value v) {
         downmix(s).dmixmod = choose("--preferred-downmix", v, all(kDownmixModes), "ltrt, loro or unset");
     }},
    {"--ltrt-center-level", true,
     [](Settings& s, Value v) {
         downmix(s).ltrtcmixlev = choose("--ltrt-center-level", v, all(kCentreLevels), kCentreLevelsText);
     }},
    {"--ltrt-surround-level", true,
     [](Settings& s, Value v) {
         downmix(s).ltrtsurmixlev = choose("--ltrt-surround-level", v, all(kSurroundLevels), kSurroundLevelsText);
     }},
    {"--loro-center-level", true,
     [](Settings& s, Value v) {
         downmix(s).lorocmixlev = choose("--loro-center-level", v, all(kCentreLevels), kCentreLevelsText);
     }},
    {"--loro-surround-level", true,
     [](Settings& s, Value v) {
         downmix(s).lorosurmixlev = choose("--loro-surround-level", v, all(kSurroundLevels), kSurroundLevelsText);
     }},
    {"--surround-ex", true,
     [](Settings& s, Value v) { flags(s).dsurexmod = choose("--surround-ex", v, all(kYesNoUnset), kYesNoUnsetText); }},
    {"--headphone-encoded", true,
     [](Settings& s, Value v) {
         flags(s).dheadphonmod = choose("--headphone-encoded", v, all(kYesNoUnset), kYesNoUnsetText);
     }},
    {"--ad-converter", true,
     [](Settings& s, Value v) { flags(s).adconvtyp = choose("--ad-converter", v, all(kConverters), "standard or hdcd"); }},
    {"--drc-profile", true,
     [](Settings& s, Value v) { s.line_drc = choose("--drc-profile", v, all(kDrcProfiles), kDrcProfilesText); }},
    {"--rf-drc-profile", true,
     [](Settings& s, Value v) { s.rf_drc = choose("--rf-drc-profile", v, all(kDrcProfiles), kDrcProfilesText); }},
}};

}  // namespace

std::span<const StreamOption> stream_options() { return kStreamOptions; }

}  // namespace oskavi
