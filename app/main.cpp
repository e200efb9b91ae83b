#include "app/driver.h"
#include "platform/process_signals.h"

int main(int argc, char** argv) {
    // Console output is a courtesy: a reader that goes away must not end the run.
    oskavi::ignore_broken_pipe();
    return oskavi::run(argc, argv);
}
