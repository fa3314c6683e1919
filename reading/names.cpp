#include "reading/names.h"

#include "platform/files.h"

namespace quodrel {

NameRules system_name_rules() {
    NameRules rules;
    rules.windows_rules = platform::windows_rules();
    if (rules.windows_rules)
        rules.fold = platform::fold_case; // Windows folds names' case
    return rules;
}

std::string compared_path(std::string_view path, const NameRules& rules) {
    std::string compared(path);
    if (rules.windows_rules)
        for (char& c : compared)
            if (c == '\\')
                c = '/';
    return rules.fold ? rules.fold(compared) : compared;
}

} // namespace quodrel
