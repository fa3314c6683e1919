// The interface's words: its version, its errors and refusals in a few words, and every
// event as the quodrel program prints it.
#include "events/text.h"
#include "lib/handle.h"
#include "platform/guard.h"
#include "quodrel/quodrel.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

// The size of the first version's events: fields later versions add are read only where
// an event's `size` covers them.
constexpr std::size_t kFirstEventSize =
    offsetof(quodrel_event, data_offset) + sizeof(quodrel_event::data_offset);

} // namespace

extern "C" {

unsigned quodrel_version(void) { return QUODREL_VERSION_NUMBER; }

const char* quodrel_error_text(quodrel_error error) {
    switch (error) {
    case QUODREL_OK: return "no error";
    case QUODREL_ERROR_ARGUMENT: return "invalid argument";
    case QUODREL_ERROR_OPEN: return "cannot open";
    case QUODREL_ERROR_TABLE_CUT_SHORT: return "entry table cut short";
    case QUODREL_ERROR_BAD_NAME_LENGTH: return "bad name length in the entry table";
    case QUODREL_ERROR_TOO_DEEP: return "too many folder levels";
    case QUODREL_ERROR_NO_MEMORY: return "out of memory";
    case QUODREL_ERROR_NOT_FOUND: return "not in the archive";
    case QUODREL_ERROR_NOT_A_FILE: return "not a file";
    case QUODREL_ERROR_REFUSED: return "refused by extraction";
    case QUODREL_ERROR_READ: return "cannot read the archive";
    case QUODREL_ERROR_INCOMPLETE: return "not everything could be done";
    case QUODREL_ERROR_CANCELLED: return "cancelled";
    case QUODREL_ERROR_DESTINATION: return "cannot make the destination";
    case QUODREL_ERROR_CREATE: return "cannot create";
    case QUODREL_ERROR_WRITE: return "cannot write";
    case QUODREL_ERROR_CHANGED: return "changed while reading";
    case QUODREL_ERROR_LIMIT: return "beyond the limits of the format";
    case QUODREL_ERROR_NOT_AN_ARCHIVE: return "not an archive";
    case QUODREL_ERROR_DESCRIPTORS: return "too few files may be open at once";
    case QUODREL_ERROR_DIFFERENT: return "the archive and the folder differ";
    case QUODREL_ERROR_NOT_UPDATED: return "not updated";
    case QUODREL_ERROR_LOCKED: return "another run is replacing the archive";
    case QUODREL_ERROR_REPLACED:
        return "the archive was replaced meanwhile, this one kept beside it";
    }
    return "unknown error";
}

const char* quodrel_refusal_text(quodrel_refusal refusal) {
    switch (refusal) {
    case QUODREL_WRITTEN: return "written";
    case QUODREL_REFUSED_UNSAFE_NAME: return "unsafe name";
    case QUODREL_REFUSED_NAME_TOO_LONG: return "name too long";
    case QUODREL_REFUSED_PATH_TOO_LONG: return "path too long";
    case QUODREL_REFUSED_DATA_OUT_OF_RANGE: return "data out of range";
    case QUODREL_REFUSED_DATA_CUT_SHORT: return "data cut short";
    case QUODREL_REFUSED_NAME_CLASH: return "name clash";
    case QUODREL_REFUSED_INSIDE: return "inside a refused folder";
    case QUODREL_REFUSED_NAME_NOT_STORABLE: return "name cannot be stored";
    case QUODREL_REFUSED_FILE_TOO_LARGE: return "file too large";
    case QUODREL_NO_SUCH_ENTRY: return "no such entry";
    }
    return "unknown refusal";
}

size_t quodrel_event_text(const quodrel_event* event, char* buffer, size_t size) {
    std::string text;
    if (event && event->size >= kFirstEventSize) {
        // Fields an older caller's event has not read as zero.
        quodrel_event whole = {};
        std::memcpy(&whole, event, event->size < sizeof whole ? event->size : sizeof whole);
        // No memory for the words: none.
        text = quodrel::platform::or_no_memory([&] { return quodrel::event_text(whole); },
                                               [] { return std::string(); });
    }
    return quodrel::give(text, buffer, size);
}

size_t quodrel_printable(const char* name, char* buffer, size_t size) {
    std::string text;
    text = quodrel::platform::or_no_memory([&] { return quodrel::printable(name ? name : ""); },
                                           [] { return std::string(); });
    return quodrel::give(text, buffer, size);
}

} // extern "C"
