#include <string>
#include <vector>

#include "app/driver.h"
#include "platform/console.h"
#include "platform/process_signals.h"

int main(int argc, char** argv) {
    oskavi::prepare_console();
    // Console output is a courtesy: a reader that goes away must not end the run.
    oskavi::ignore_broken_pipe();
    // The driver reads UTF-8 arguments; keep the strings alive for its argv view.
    std::vector<std::string> arguments = oskavi::utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return oskavi::run(static_cast<int>(arguments.size()), pointers.data());
}
