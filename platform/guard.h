// Running out of memory, kept from the caller. Native builds have C++ exceptions: what
// an allocation throws is caught and becomes an error. Built without them (WebAssembly
// for WASI), a failed allocation would end the module, the allocator having no other
// way to say so: there what may be large is asked for first, with room_for.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace quodrel::platform {

// `run()`, or `no_memory()` when it ran out of memory (threw).
template <class Run, class NoMemory>
auto or_no_memory(Run&& run, NoMemory&& no_memory) -> decltype(run()) {
#if defined(__cpp_exceptions)
    try {
        return run();
    } catch (...) {
        return no_memory();
    }
#else
    static_cast<void>(no_memory);
    return run();
#endif
}

// Whether `bytes` can be had now. Where a failure to have them throws, it is caught
// where they are asked for, and this says yes; else they are asked for and given back.
inline bool room_for(std::size_t bytes) {
#if defined(__cpp_exceptions)
    static_cast<void>(bytes);
    return true;
#else
    void* room = std::malloc(bytes);
    std::free(room);
    return room != nullptr || bytes == 0;
#endif
}

} // namespace quodrel::platform
