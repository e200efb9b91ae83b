#include "platform/console.h"

#if defined(_WIN32)

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs the definitions of windows.h first.
#include <shellapi.h>

#include <cstdio>

#include "platform/windows_text.h"

namespace oskavi {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(utf8_from_wide(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

void prepare_console() {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace oskavi

#endif  // defined(_WIN32)
