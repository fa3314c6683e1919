#include "app/archive_routes.h"
#include "app/run_command.h"
#include "report/reporter.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    try {
        return quodrel::run_command(quodrel::arguments(argc, argv));
    } catch (const std::bad_alloc&) {
        // A tree or table too large for memory: end with a message, not a crash.
        quodrel::write_out(quodrel::kOutOfMemory);
        return quodrel::kExitError;
    }
}
