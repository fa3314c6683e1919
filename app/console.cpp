#include "app/console.h"

#include <cstdio>

namespace quodrel {

bool progress_dot_due(std::int32_t total, std::int32_t index) {
    const std::int32_t step = total / 50;
    return step == 0 || index % step == 0;
}

void report_progress(std::int32_t total, std::int32_t index) {
    if (progress_dot_due(total, index)) {
        std::fputc('.', stdout);
        std::fflush(stdout);
    }
}

} // namespace quodrel
