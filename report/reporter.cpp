#include "report/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace quodrel {

const char* fault_message(Fault fault) {
    switch (fault) {
    case Fault::none: break;
    case Fault::cannot_open: return "ERROR! Cannot open %s\n";
    case Fault::cannot_create: return "ERROR! Cannot create %s\n";
    case Fault::cannot_write: return "ERROR! Cannot write %s\n";
    case Fault::no_memory: return "ERROR! Memory allocation failed! (%s bytes)\n";
    case Fault::name_too_long: return "ERROR! Name too long %s\n";
    case Fault::path_too_long: return "ERROR! Path too long %s\n";
    case Fault::file_too_large: return "ERROR! File too large %s\n";
    case Fault::archive_too_large: return "ERROR! Archive too large %s\n";
    case Fault::file_changed: return "ERROR! File changed while reading %s\n";
    case Fault::unstorable_name: return "ERROR! Name cannot be stored %s\n";
    case Fault::unsafe_name: return "ERROR! Unsafe name %s\n";
    case Fault::data_out_of_range: return "ERROR! Data out of range for %s\n";
    case Fault::data_cut_short: return "ERROR! Data cut short for %s\n";
    case Fault::name_clash: return "ERROR! Name clash %s\n";
    case Fault::table_cut_short: return "ERROR! Entry table cut short in %s\n";
    case Fault::bad_name_length: return "ERROR! Bad name length in %s\n";
    case Fault::too_deep: return "ERROR! Too many directory levels in %s\n";
    case Fault::table_no_memory: return "ERROR! No memory for the entry table of %s\n";
    case Fault::not_an_archive: return "ERROR! Not an archive %s\n";
    case Fault::not_in_archive: return "ERROR! Not in the archive %s\n";
    case Fault::not_a_file: return "ERROR! Not a file %s\n";
    }
    return "ERROR! %s\n";
}

Fault fault_of(Limit limit) {
    switch (limit) {
    case Limit::none: break;
    case Limit::name_too_long: return Fault::name_too_long;
    case Limit::path_too_long: return Fault::path_too_long;
    case Limit::file_too_large: return Fault::file_too_large;
    }
    return Fault::none;
}

Fault fault_of(TableDamage damage) {
    switch (damage) {
    case TableDamage::none: break;
    case TableDamage::cut_short: return Fault::table_cut_short;
    case TableDamage::bad_name_length: return Fault::bad_name_length;
    case TableDamage::too_deep: return Fault::too_deep;
    case TableDamage::no_memory: return Fault::table_no_memory;
    }
    return Fault::none;
}

bool progress_dot_due(std::int32_t total, std::int32_t index) {
    const std::int32_t step = total / 50;
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
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (byte == '\t')
            out += "\\t";
        else if (byte == '\n')
            out += "\\n";
        else if (byte == '\r')
            out += "\\r";
        else if ((byte >= 0x01 && byte < 0x20) || byte == 0x7f)
            octal(byte);
        else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
            octal(byte); // a C1 control: both of its bytes
            octal(next);
            ++i;
        } else
            out += static_cast<char>(byte);
    }
    return out;
}

void Reporter::print(const char* format, ...) {
    char line[1024];
    std::va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (static_cast<std::size_t>(n) < sizeof line) {
        write_(std::string_view(line, static_cast<std::size_t>(n)));
        return;
    }
    std::string longer(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(&longer[0], longer.size(), format, args);
    va_end(args);
    longer.pop_back();
    write_(longer);
}

void Reporter::creating(const std::string& archive_path, std::size_t entries) {
    if (!quiet_)
        print("Creating %s (%d files)\n", archive_path.c_str(), static_cast<int>(entries));
}

void Reporter::extracting(const std::string& archive_path) {
    if (!quiet_)
        print("Extracting %s\n", archive_path.c_str());
}

void Reporter::counts(std::int32_t entry_count, std::int32_t data_offset) {
    if (!quiet_)
        print("%d files, data offset %d\n", entry_count, data_offset);
}

void Reporter::progress(std::int32_t total, std::int32_t index) {
    if (!quiet_ && progress_dot_due(total, index)) {
        write_(".");
        flush();
    }
}

void Reporter::fault(Fault fault, const std::string& path) {
    print(fault_message(fault), path.c_str());
    failed_ = true;
}

void Reporter::fault(Fault fault, const std::string& given, std::string_view entry_path) {
    this->fault(fault, given + printable(entry_path));
}

void Reporter::no_memory(std::int64_t bytes) { fault(Fault::no_memory, std::to_string(bytes)); }

void Reporter::done() {
    if (!quiet_)
        write_("\nDone\n");
}

void Reporter::listing(std::int32_t size, std::string_view path) {
    print("%10d %s\n", size, printable(path).c_str());
}

void Reporter::totals(std::int32_t files, std::int32_t directories, std::int64_t bytes) {
    print("%d files, %d directories, %lld bytes\n", files, directories,
          static_cast<long long>(bytes));
}

void Reporter::flush() {
    if (flush_)
        flush_();
}

const char* const kOutOfMemory = "ERROR! Out of memory\n";

} // namespace quodrel
