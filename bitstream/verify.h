#pragma once
// Structural check of an AC-3 elementary stream ("--verify"): every frame
// must carry a valid 48 kHz baseline header, fit in the file, pass crc1 and
// crc2, and keep the first frame's bit rate. Audio is not decoded.

#include <ostream>
#include <string>

namespace oskavi {

// Writes the four-line report to out and returns exit status 0. Any defect
// throws std::runtime_error with its message; nothing is written then.
int verify_ac3_file(const std::string& path, std::ostream& out);

}  // namespace oskavi
