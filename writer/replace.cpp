#include "writer/replace.h"

#include "archive/format.h"

namespace quodrel {

Replacement::Replacement(const std::string& archive_path, const platform::Watch& watch)
    : archive_path_(archive_path), system_path_(platform::system_path(archive_path)),
      watch_(watch) {}

bool Replacement::begin(Events& events) {
    // Windows would take a device name or a name with a trailing dot or blank for
    // something else: no archive is made under such a name.
    const bool fits =
        !platform::windows_rules() || is_windows_safe_output(archive_path_, system_path_, false);
    if (!fits || !platform::create_temp_file_beside(system_path_, temp_, watch_, 0)) {
        events.failed(QUODREL_ERROR_CREATE, fits ? platform::last_error() : 0, archive_path_);
        return false;
    }
    return true;
}

quodrel_error Replacement::commit(Events& events) {
    if (!platform::put_in_place(temp_)) {
        events.failed(QUODREL_ERROR_CREATE, platform::last_error(), archive_path_);
        return QUODREL_ERROR_CREATE;
    }
    return QUODREL_OK;
}

void Replacement::discard() {
    if (temp_.file >= 0 || !temp_.name.empty() || temp_.folder.handle >= 0)
        platform::discard(temp_);
}

} // namespace quodrel
