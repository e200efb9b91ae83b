#include "platform/library_names.h"

namespace oskavi {

std::vector<std::string> libflac_file_names() {
#if defined(_WIN32)
    return {"libFLAC.dll", "libFLAC-x86.dll", "FLAC.dll"};
#else
    return {"libFLAC.so.12", "libFLAC.so.14", "libFLAC.so", "libFLAC.so.8"};
#endif
}

}  // namespace oskavi
