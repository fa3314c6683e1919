#include "rules/command_line.h"

namespace quodrel::rules {

std::vector<std::string> split_command_line(const std::string& line) {
    std::size_t i = 0;
    // The program's name: up to the closing quote, or the first blank.
    if (i < line.size() && line[i] == '"') {
        const std::size_t close = line.find('"', 1);
        i = close == std::string::npos ? line.size() : close + 1;
    }
    while (i < line.size() && line[i] != ' ' && line[i] != '\t')
        ++i;
    std::vector<std::string> args;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            return args;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\')
                ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"'; // "" inside quotes
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')))
                    arg += line[i++];
            }
        }
        args.push_back(arg);
    }
}

} // namespace quodrel::rules
