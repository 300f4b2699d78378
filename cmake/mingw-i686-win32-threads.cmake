# The toolchain of Velloq.dll: mingw-w64 with the win32 thread model. Its
# static runtime imports only what Windows XP has. The posix model would link
# winpthreads, which imports GetTickCount64 (Vista and later, so the DLL would
# not load on XP), installs a process-wide vectored exception handler in the
# host and leaves handles open at unload.
set(VELLOQ_MINGW_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
