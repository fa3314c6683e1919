#include "app/archive_routes.h"
#include "app/run_command.h"
#include "report/printer.h"

#include <new>

int main(int argc, char** argv) {
    try {
        return quodrel::run_command(quodrel::arguments(argc, argv));
    } catch (const std::bad_alloc&) {
        // No memory for the arguments or a route's own texts: end with a message, not a
        // crash (the operations tell their own).
        quodrel::Printer out(quodrel::write_out);
        out.print(quodrel::failure_event(QUODREL_ERROR_NO_MEMORY, ""));
        return quodrel::kExitError;
    }
}
