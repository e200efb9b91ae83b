#include "platform/process_signals.h"

#if defined(_WIN32)

#include <windows.h>

#include <atomic>

namespace oskavi {
namespace {

std::atomic<bool> g_interrupted{false};

// Console control events arrive on a thread of their own. The first Ctrl+C,
// Ctrl+Break or close only raises the flag; any later one falls through to
// the default handler, which ends the process.
BOOL WINAPI note_interrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    return g_interrupted.exchange(true) ? FALSE : TRUE;
}

}  // namespace

// Windows has no SIGPIPE: a write to a closed pipe already fails with an error.
void ignore_broken_pipe() {}

void install_interrupt_handlers() { SetConsoleCtrlHandler(note_interrupt, TRUE); }

bool interrupt_requested() { return g_interrupted.load(); }

}  // namespace oskavi

#endif  // defined(_WIN32)
