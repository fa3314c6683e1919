#include "platform/threads.h"

#ifdef _WIN32
#include "platform/win32/threads.inc"
#elif defined(__wasi__)
#include "platform/wasi/threads.inc"
#else
#include "platform/posix/threads.inc"
#endif
