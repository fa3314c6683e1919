#include "platform/terminal.h"

#ifdef _WIN32
#include "platform/win32/terminal.inc"
#else
#include "platform/posix/terminal.inc"
#endif
