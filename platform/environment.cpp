#include "platform/environment.h"

#include <cstdlib>

namespace oskavi {

bool env_flag_enabled(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

}  // namespace oskavi
