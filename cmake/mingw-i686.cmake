# Cross build for the 32-bit Windows host with mingw-w64. The programs (tests,
# velloq-host.exe, benchmarks) use the posix thread model, since GoogleTest
# and the host's worker threads need std::mutex and std::thread, and run
# under Wine where the machine can run 32-bit programs. The module itself is
# built apart with the win32 thread model (mingw-i686-win32-threads.cmake).
if(NOT DEFINED VELLOQ_MINGW_THREAD_MODEL)
  set(VELLOQ_MINGW_THREAD_MODEL posix)
endif()

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${VELLOQ_MINGW_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${VELLOQ_MINGW_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Wine may be installed on a machine whose kernel cannot run it; scripts/test
# finds out by trying and does not run the Windows tests there.
find_program(VELLOQ_WINE wine)
if(VELLOQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLOQ_WINE})
endif()
