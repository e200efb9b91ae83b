#include "platform/process_signals.h"

// POSIX side; the Windows side is in process_signals_windows.cpp.
#if !defined(_WIN32)

#include <csignal>

namespace oskavi {
namespace {

// Written only by the handler; lock-free, so it is safe to touch there.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void note_interrupt(int) { g_interrupted = 1; }

void catch_once(int signal_number) {
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the next signal of this kind takes the default action.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

}  // namespace

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

void install_interrupt_handlers() {
    catch_once(SIGINT);
    catch_once(SIGTERM);
}

bool interrupt_requested() { return g_interrupted != 0; }

}  // namespace oskavi

#endif  // !defined(_WIN32)
