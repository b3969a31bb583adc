# Cross-compiles for 64-bit Windows with Debian's MinGW-w64. The thread model is posix (std::mutex and
# std::thread for GoogleTest and the tools) unless ZELNAR_THREAD_MODEL says win32: the plug-in's own
# tree (plugin/CMakeLists.txt) is built so, as its runtime then needs no thread library.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
if(NOT ZELNAR_THREAD_MODEL)
  set(ZELNAR_THREAD_MODEL posix)
endif()
# The compiler checks read this file again in trees of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELNAR_THREAD_MODEL)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${ZELNAR_THREAD_MODEL})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${ZELNAR_THREAD_MODEL})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
