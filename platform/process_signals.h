#pragma once
// Signals that would otherwise end the process without a word.

namespace oskavi {

// A write to a closed pipe fails with an error instead of killing the
// process, so console output to a reader that went away is merely lost.
void ignore_broken_pipe();

// The first SIGINT or SIGTERM only raises a flag that the work loop polls;
// a second one ends the process the default way.
void install_interrupt_handlers();

// True once SIGINT or SIGTERM has arrived since the handlers were installed.
bool interrupt_requested();

}  // namespace oskavi
