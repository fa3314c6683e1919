#include "writer/replace.h"

#include "archive/format.h"

namespace quodrel {

Replacement::Replacement(const std::string& archive_path, const platform::Watch& watch)
    : archive_path_(archive_path), system_path_(platform::system_path(archive_path)),
      watch_(watch) {}

Replacement::~Replacement() {
    platform::discard(place_, temp_);
    platform::release(place_);
}

quodrel_error Replacement::claim(Events& events, bool make_missing) {
    // Windows would take a device name or a name with a trailing dot or blank for
    // something else: no archive is made under such a name.
    if (platform::windows_rules() && !is_windows_safe_output(archive_path_, system_path_, false)) {
        events.failed(QUODREL_ERROR_CREATE, 0, archive_path_);
        return QUODREL_ERROR_CREATE;
    }
    switch (platform::claim_place(system_path_, make_missing, place_)) {
    case platform::Claim::claimed: return QUODREL_OK;
    case platform::Claim::held:
        events.failed(QUODREL_ERROR_LOCKED, 0, archive_path_);
        return QUODREL_ERROR_LOCKED;
    case platform::Claim::failed: break;
    }
    events.failed(QUODREL_ERROR_CREATE, platform::last_error(), archive_path_);
    return QUODREL_ERROR_CREATE;
}

bool Replacement::begin(Events& events) {
    if (!platform::create_temp_file(place_, temp_, watch_, 0)) {
        events.failed(QUODREL_ERROR_CREATE, platform::last_error(), archive_path_);
        return false;
    }
    return true;
}

std::string Replacement::beside(const std::string& name) const {
    // Beside the file a link leads to, named by the folder the system found; else in
    // the folder the user named.
    if (place_.through_link)
        return place_.folder.path + "/" + name;
    const std::size_t cut = archive_path_.find_last_of(platform::windows_rules() ? "/\\" : "/");
    return cut == std::string::npos ? name : archive_path_.substr(0, cut + 1) + name;
}

quodrel_error Replacement::commit(Events& events) {
    if (!events.commit(archive_path_))
        return QUODREL_ERROR_CANCELLED;
    switch (platform::put_in_place(place_, temp_)) {
    case platform::Placed::placed: return QUODREL_OK;
    case platform::Placed::kept: {
        const std::string kept = beside(temp_.name);
        temp_.name.clear(); // it stays
        events.failed(QUODREL_ERROR_REPLACED, 0, kept);
        return QUODREL_ERROR_REPLACED;
    }
    case platform::Placed::failed: break;
    }
    events.failed(QUODREL_ERROR_CREATE, platform::last_error(), archive_path_);
    return QUODREL_ERROR_CREATE;
}

} // namespace quodrel
