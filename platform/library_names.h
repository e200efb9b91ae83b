#pragma once
// The file names a run-time library is installed under on this system.

#include <string>
#include <vector>

namespace oskavi {

// libFLAC's names, in the order they are tried: on POSIX systems the sonames
// of libFLAC 1.4 (12), 1.5 (14), the development link and 1.3 (8); on Windows
// the DLL names of the usual builds (plain, the 32-bit suffixed one, and the
// name without the "lib" prefix).
std::vector<std::string> libflac_file_names();

}  // namespace oskavi
