/* What the host of the WebAssembly module gives the library: the callbacks of the C
 * interface (a reader, a writer, an event listener) are functions the module imports
 * from the host ("quodrel_host"), each told by its context which of the host's objects
 * the call is for. The host passes the pointers quodrel_web_reader and the others give
 * wherever the interface takes a callback. The layouts the host reads and writes are
 * pinned here, so that a change to the header that moves them does not build. */
#include "quodrel/quodrel.h"

#include <stddef.h>

#define FROM_HOST(name) __attribute__((import_module("quodrel_host"), import_name(name)))

FROM_HOST("read_at")
int64_t quodrel_host_read_at(void* context, void* buffer, size_t size, uint64_t offset);
FROM_HOST("write") int quodrel_host_write(void* context, const void* data, size_t size);
FROM_HOST("on_event") int quodrel_host_on_event(void* context, const quodrel_event* event);

quodrel_read_at quodrel_web_reader(void) { return quodrel_host_read_at; }
quodrel_write quodrel_web_writer(void) { return quodrel_host_write; }
quodrel_on_event quodrel_web_listener(void) { return quodrel_host_on_event; }

/* The sizes of the structs the host lays out in the module's memory: quodrel_options
 * (set by quodrel_options_init, then given a listener) and quodrel_event (the failure
 * whose words the host asks for). */
size_t quodrel_web_options_size(void) { return sizeof(quodrel_options); }
size_t quodrel_web_event_size(void) { return sizeof(quodrel_event); }

_Static_assert(sizeof(void*) == 4 && sizeof(size_t) == 4, "wasm32");
_Static_assert(offsetof(quodrel_listed_entry, path) == 0 &&
                   offsetof(quodrel_listed_entry, is_folder) == 4 &&
                   offsetof(quodrel_listed_entry, size) == 8 &&
                   offsetof(quodrel_listed_entry, context) == 16 &&
                   sizeof(quodrel_listed_entry) == 24,
               "quodrel_listed_entry as the host writes it");
_Static_assert(offsetof(quodrel_options, threads) == 4 &&
                   offsetof(quodrel_options, on_event) == 8 &&
                   offsetof(quodrel_options, context) == 12 &&
                   offsetof(quodrel_options, outputs) == 16,
               "quodrel_options as the host writes it");
_Static_assert(offsetof(quodrel_event, kind) == 4 && offsetof(quodrel_event, index) == 12 &&
                   offsetof(quodrel_event, path) == 16 && offsetof(quodrel_event, bytes) == 24 &&
                   offsetof(quodrel_event, refusal) == 32 && offsetof(quodrel_event, error) == 36 &&
                   offsetof(quodrel_event, entries_done) == 48 &&
                   offsetof(quodrel_event, entries_total) == 56 &&
                   offsetof(quodrel_event, bytes_done) == 64 &&
                   offsetof(quodrel_event, bytes_total) == 72,
               "quodrel_event as the host reads it");
