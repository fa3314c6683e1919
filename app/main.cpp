#include "app/run_command.h"

#include <string>
#include <vector>

int main(int argc, char **argv) {
    return quodrel::run_command(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
