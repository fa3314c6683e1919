# Cross-builds the Windows program with mingw-w64 (64-bit).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUODREL_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX thread model: std::thread and std::mutex (the win32 one has neither).
# Linked statically, it adds no DLL to what the program imports.
set(CMAKE_C_COMPILER ${QUODREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUODREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUODREL_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUODREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
