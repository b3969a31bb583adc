# Cross-compiles for 32-bit Windows with Debian's MinGW-w64. The thread model is posix (std::mutex and
# std::thread for GoogleTest and the tools) unless ZELNAR_THREAD_MODEL says win32: the plug-in's own
# tree (plugin/CMakeLists.txt) is built so, as its runtime then needs no thread library.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
if(NOT ZELNAR_THREAD_MODEL)
  set(ZELNAR_THREAD_MODEL posix)
endif()
# The compiler checks read this file again in trees of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELNAR_THREAD_MODEL)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${ZELNAR_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${ZELNAR_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
