#include "console/paths.h"

#ifdef _WIN32
#include "console/win32/paths.inc"
#else
#include "console/posix/paths.inc"
#endif
