#include "platform/processor_features.h"

namespace oskavi {

bool processor_has_avx2() {
#if OSKAVI_AVX2_KERNELS
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

}  // namespace oskavi
