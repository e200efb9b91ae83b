#include "app/interruption.h"

#include "platform/process_signals.h"

namespace oskavi {

void throw_if_interrupted() {
    if (interrupt_requested()) {
        throw Interrupted();
    }
}

}  // namespace oskavi
