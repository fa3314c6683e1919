#include "app/archive_routes.h"
#include "app/run_command.h"
#include "console/terminal.h"
#include "report/printer.h"

#include <new>

int main(int argc, char** argv) {
    // Before anything is opened: no file of the program's may become standard output.
    quodrel::console::open_standard_descriptors();
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
