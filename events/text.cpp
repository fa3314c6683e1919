#include "events/text.h"

#include "platform/files.h"
#include "rules/utf8.h"
#include "rules/windows_paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quodrel {
namespace {

std::string format(const char* pattern, ...) {
    char line[512];
    std::va_list args;
    va_start(args, pattern);
    const int n = std::vsnprintf(line, sizeof line, pattern, args);
    va_end(args);
    if (n < 0)
        return std::string();
    if (static_cast<std::size_t>(n) < sizeof line)
        return std::string(line, static_cast<std::size_t>(n));
    std::string longer(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, pattern);
    std::vsnprintf(&longer[0], longer.size(), pattern, args);
    va_end(args);
    longer.pop_back();
    return longer;
}

// Characters that reorder what a terminal shows around them (the bidirectional
// controls: marks, embeddings, overrides and isolates), so that a listed name could
// show as another.
bool is_bidi_control(std::uint32_t code) {
    return code == 0x061c || code == 0x200e || code == 0x200f ||
           (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

long long wide(std::int64_t value) { return static_cast<long long>(value); }

// The message of a refusal, with one "%s" for where.
const char* refusal_message(quodrel_refusal refusal) {
    switch (refusal) {
    case QUODREL_REFUSED_UNSAFE_NAME: return "ERROR! Unsafe name %s\n";
    case QUODREL_REFUSED_NAME_TOO_LONG: return "ERROR! Name too long %s\n";
    case QUODREL_REFUSED_PATH_TOO_LONG: return "ERROR! Path too long %s\n";
    case QUODREL_REFUSED_DATA_OUT_OF_RANGE: return "ERROR! Data out of range for %s\n";
    case QUODREL_REFUSED_DATA_CUT_SHORT: return "ERROR! Data cut short for %s\n";
    case QUODREL_REFUSED_NAME_CLASH: return "ERROR! Name clash %s\n";
    case QUODREL_REFUSED_NAME_NOT_STORABLE: return "ERROR! Name cannot be stored %s\n";
    case QUODREL_REFUSED_FILE_TOO_LARGE: return "ERROR! File too large %s\n";
    case QUODREL_WRITTEN:
    case QUODREL_REFUSED_INSIDE: // told by the refused folder's line
    case QUODREL_NO_SUCH_ENTRY: break;
    }
    return nullptr;
}

// The message of a failure, with one "%s" for where.
const char* error_message(quodrel_error error) {
    switch (error) {
    case QUODREL_ERROR_OPEN: return "ERROR! Cannot open %s\n";
    case QUODREL_ERROR_CREATE:
    case QUODREL_ERROR_DESTINATION: return "ERROR! Cannot create %s\n";
    case QUODREL_ERROR_WRITE: return "ERROR! Cannot write %s\n";
    case QUODREL_ERROR_READ: return "ERROR! Data cut short for %s\n";
    case QUODREL_ERROR_CHANGED: return "ERROR! File changed while reading %s\n";
    case QUODREL_ERROR_LIMIT: return "ERROR! Archive too large %s\n";
    case QUODREL_ERROR_TABLE_CUT_SHORT: return "ERROR! Entry table cut short in %s\n";
    case QUODREL_ERROR_BAD_NAME_LENGTH: return "ERROR! Bad name length in %s\n";
    case QUODREL_ERROR_TOO_DEEP: return "ERROR! Too many directory levels in %s\n";
    case QUODREL_ERROR_NOT_AN_ARCHIVE: return "ERROR! Not an archive %s\n";
    case QUODREL_ERROR_DESCRIPTORS: return "ERROR! Too few open files allowed for %s\n";
    case QUODREL_ERROR_NOT_FOUND: return "ERROR! Not in the archive %s\n";
    case QUODREL_ERROR_NOT_UPDATED: return "ERROR! Not updated %s\n";
    case QUODREL_ERROR_NOT_A_FILE: return "ERROR! Not a file %s\n";
    case QUODREL_ERROR_REPLACED: return "ERROR! Archive replaced meanwhile, this one kept as %s\n";
    default: break;
    }
    return nullptr;
}

// Where an event happened, as the messages name it: a path the caller gave, or an
// entry below the folder the caller gave; every part with its control bytes escaped.
std::string where(const quodrel_event& event) {
    const std::string path = printable(event.path ? event.path : "");
    if (!event.folder)
        return path;
    const std::string folder = printable(event.folder);
    return rules::ends_in_separator(folder, platform::windows_rules()) ? folder + path
                                                                       : folder + "/" + path;
}

bool prints_progress(quodrel_operation operation) {
    return operation == QUODREL_OPERATION_EXTRACT || operation == QUODREL_OPERATION_CREATE ||
           operation == QUODREL_OPERATION_UPDATE;
}

std::string failure_text(const quodrel_event& event) {
    if (event.error == QUODREL_ERROR_NO_MEMORY) {
        if (event.index != QUODREL_NO_INDEX || event.folder)
            return format("ERROR! Memory allocation failed! (%lld bytes)\n", wide(event.bytes));
        if (event.path && *event.path)
            return format("ERROR! No memory for the entry table of %s\n", where(event).c_str());
        return "ERROR! Out of memory\n";
    }
    if (event.error == QUODREL_ERROR_READ && event.index == QUODREL_NO_INDEX && !event.folder)
        return format("ERROR! Cannot read %s\n", where(event).c_str()); // the archive itself
    if (event.error == QUODREL_ERROR_LOCKED) // another run holds the archive's lock
        return format(event.operation == QUODREL_OPERATION_UPDATE ? "ERROR! Not updated %s\n"
                                                                  : "ERROR! Cannot create %s\n",
                      where(event).c_str());
    if (event.error == QUODREL_ERROR_REFUSED) {
        const char* message = refusal_message(event.refusal);
        return message ? format(message, where(event).c_str()) : std::string();
    }
    const char* message = error_message(event.error);
    if (message)
        return format(message, where(event).c_str());
    return format("ERROR! %s %s\n", quodrel_error_text(event.error), where(event).c_str());
}

} // namespace

bool progress_dot_due(std::int64_t total, std::int64_t index) {
    const std::int64_t step = total / 50;
    return step == 0 || index % step == 0;
}

std::string printable(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    const auto octal = [&out](unsigned char byte) {
        const char digits[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                               static_cast<char>('0' + ((byte >> 3) & 7)),
                               static_cast<char>('0' + (byte & 7))};
        out.append(digits, sizeof digits);
    };
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t start = at;
        // Most names are plain ASCII: taken as they are, a run at a time.
        while (at < name.size() && name[at] >= 0x20 && name[at] < 0x7f)
            ++at;
        if (at > start) {
            out.append(name.substr(start, at - start));
            continue;
        }
        const std::uint32_t code = rules::decode_utf8(name, at);
        if (code == '\t')
            out += "\\t";
        else if (code == '\n')
            out += "\\n";
        else if (code == '\r')
            out += "\\r";
        else if (code == rules::kNotUtf8 || (code >= 0x01 && code < 0x20) ||
                 (code >= 0x7f && code <= 0x9f) || is_bidi_control(code)) {
            // Every byte of it: a control a terminal would obey (C0, DEL, C1), a byte
            // that is no part of a UTF-8 character (a terminal may take 0x9B for CSI),
            // or a character that reorders the line.
            for (std::size_t i = start; i < at; ++i)
                octal(static_cast<unsigned char>(name[i]));
        } else
            out.append(name.substr(start, at - start));
    }
    return out;
}

std::string event_text(const quodrel_event& event) {
    switch (event.kind) {
    case QUODREL_EVENT_BEGIN:
        if (event.operation == QUODREL_OPERATION_EXTRACT)
            return format("Extracting %s\n%lld files, data offset %lld\n", where(event).c_str(),
                          wide(event.entries_total), wide(event.data_offset));
        if (event.operation == QUODREL_OPERATION_CREATE)
            return format("Creating %s (%lld files)\n", where(event).c_str(),
                          wide(event.entries_total));
        if (event.operation == QUODREL_OPERATION_UPDATE)
            return format("Updating %s (%lld files)\n", where(event).c_str(),
                          wide(event.entries_total));
        break;
    case QUODREL_EVENT_PROGRESS:
        if (prints_progress(event.operation) && event.entries_done < event.entries_total &&
            progress_dot_due(event.entries_total, event.entries_done))
            return ".";
        break;
    case QUODREL_EVENT_ENTRY:
        if (event.operation == QUODREL_OPERATION_LIST)
            return format("%10lld %s%s\n", wide(event.bytes), printable(event.path).c_str(),
                          event.bytes == 0 ? "/" : "");
        break;
    case QUODREL_EVENT_REFUSED:
        if (const char* message = refusal_message(event.refusal))
            return format(message, where(event).c_str());
        break;
    case QUODREL_EVENT_FAILED: return failure_text(event);
    case QUODREL_EVENT_COMMIT: break; // (nothing printed: the program holds its signals)
    case QUODREL_EVENT_DIFFERENCE: {
        const char* message = event.difference == QUODREL_ONLY_IN_ARCHIVE  ? "Only in the archive"
                              : event.difference == QUODREL_ONLY_IN_FOLDER ? "Only in the folder"
                              : event.difference == QUODREL_DIFFERS        ? "Differs"
                                                                           : nullptr;
        if (message)
            return format("%s %s%s\n", message, printable(event.path).c_str(),
                          event.bytes == 0 ? "/" : "");
        break;
    }
    case QUODREL_EVENT_END:
        if (prints_progress(event.operation))
            return "\nDone\n";
        if (event.operation == QUODREL_OPERATION_COMPARE)
            return format("%lld differences; %lld files and %lld directories in both\n",
                          wide(event.differences), wide(event.files), wide(event.folders));
        return format("%lld files, %lld directories, %lld bytes\n", wide(event.files),
                      wide(event.folders), wide(event.bytes_done));
    }
    return std::string();
}

} // namespace quodrel
