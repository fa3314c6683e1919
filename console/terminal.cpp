#include "console/terminal.h"

#ifdef _WIN32
#include "console/win32/terminal.inc"
#else
#include "console/posix/terminal.inc"
#endif
