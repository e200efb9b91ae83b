#include "tests/support/golden_cases.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

std::vector<std::string> split(const std::string& s, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(s);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string sha256_of_file(const std::string& path) {
    const ProcessResult r = run_process({"sha256sum", path});
    if (r.exit_code != 0) throw std::runtime_error("sha256sum failed on " + path);
    return r.out.substr(0, 64);
}

}  // namespace

std::vector<GoldenCase> golden_cases() {
    std::ifstream in(std::string(OSKAVI_SOURCE_DIR) + "/tests/golden/cases.txt");
    std::vector<GoldenCase> cases;
    for (std::string line; std::getline(in, line);) {
        if (words(line).empty() || line[0] == '#') continue;
        std::vector<std::string> fields = split(line, '|');
        fields.resize(4);
        GoldenCase c{words(fields[0]).at(0), words(fields[1]).at(0), words(fields[2]), {}};
        for (const std::string& assignment : words(fields[3])) {
            const auto eq = assignment.find('=');
            c.env.push_back({assignment.substr(0, eq), assignment.substr(eq + 1)});
        }
        cases.push_back(std::move(c));
    }
    return cases;
}

std::string golden_input(const TempDirectory& dir, const std::string& input) {
    std::vector<std::string> f = split(input, ':');
    const std::string kind = f.at(0);
    std::string name = input;
    std::replace(name.begin(), name.end(), ':', '_');
    const std::string wav = dir.file(name + ".wav");
    const std::string path = kind == "flac" ? dir.file(name + ".flac") : wav;
    if (std::filesystem::exists(path)) return path;

    tools::SignalShape shape;
    shape.seconds = std::stod(f.at(1));
    shape.channels = static_cast<uint32_t>(std::stoul(f.at(2)));
    shape.sample_rate = static_cast<uint32_t>(std::stoul(f.at(3)));
    const auto bits = static_cast<uint32_t>(std::stoul(f.at(4)));
    if (f.size() > 5) shape.correlation = std::stod(f[5]);
    std::vector<float> samples = tools::make_test_signal(shape);
    if (kind == "zero") samples.assign(samples.size(), 0.0f);
    tools::write_wav(wav, samples, shape.sample_rate, shape.channels, bits);
    if (kind == "flac" && run_process({"flac", "-s", "-f", "--channel-map=none", "-o", path, wav}).exit_code != 0)
        throw std::runtime_error("flac failed on " + wav);
    return path;
}

std::string golden_run_hash(const TempDirectory& dir, const GoldenCase& c, const std::vector<EnvOverride>& extra_env) {
    const std::string output = dir.file(c.name + ".ac3");
    std::filesystem::remove(output);
    std::vector<EnvOverride> env = c.env;
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    const ProcessResult r = run_oskavi(joined({golden_input(dir, c.input), output}, c.options), env);

    const std::string console = dir.file(c.name + ".console");
    {
        std::ofstream text(console, std::ios::binary);
        for (const std::string& line : lines_of(r.out))
            if (line.find('\r') == std::string::npos) text << line << '\n';
        text << "--\n" << r.err;
    }
    const std::string file_hash = std::filesystem::exists(output) ? sha256_of_file(output) : "-";
    return file_hash + ' ' + std::to_string(r.exit_code) + ' ' + sha256_of_file(console);
}

}  // namespace oskavi::test
