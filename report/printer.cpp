#include "report/printer.h"

namespace quodrel {

quodrel_options Printer::options(unsigned threads, const quodrel_output_hooks* outputs) {
    quodrel_options options = QUODREL_OPTIONS_INIT;
    options.threads = threads;
    options.on_event = on_event;
    options.context = this;
    options.outputs = outputs;
    return options;
}

int Printer::on_event(void* context, const quodrel_event* event) {
    return static_cast<Printer*>(context)->print(*event) ? 0 : 1;
}

bool is_error(const quodrel_event& event) {
    if (event.kind == QUODREL_EVENT_FAILED)
        return true;
    return event.kind == QUODREL_EVENT_REFUSED && event.refusal != QUODREL_WRITTEN &&
           event.refusal != QUODREL_REFUSED_INSIDE && event.refusal != QUODREL_NO_SUCH_ENTRY;
}

bool Printer::print(const quodrel_event& event) {
    if (is_error(event))
        failed_ = true;
    char line[256]; // most texts: a dot, a line, nothing
    const std::size_t n = quodrel_event_text(&event, line, sizeof line);
    if (n < sizeof line)
        return print(std::string_view(line, n));
    text_.resize(n + 1);
    quodrel_event_text(&event, &text_[0], text_.size());
    text_.resize(n);
    return print(text_);
}

bool Printer::print(std::string_view text) {
    if (text.empty())
        return !cut_off_;
    if (!cut_off_ && !write_(text))
        cut_off_ = true;
    return !cut_off_;
}

std::string terminal_refused(bool output) {
    return output ? "ERROR! Cannot write an archive to a terminal -\n"
                  : "ERROR! Cannot read an archive from a terminal -\n";
}

quodrel_event failure_event(quodrel_error error, const char* path) {
    quodrel_event event = {};
    event.size = sizeof event;
    event.kind = QUODREL_EVENT_FAILED;
    event.index = QUODREL_NO_INDEX;
    event.error = error;
    event.path = path;
    return event;
}

quodrel_event refusal_event(quodrel_refusal refusal, const char* path) {
    quodrel_event event = failure_event(QUODREL_OK, path);
    event.kind = QUODREL_EVENT_REFUSED;
    event.refusal = refusal;
    return event;
}

} // namespace quodrel
