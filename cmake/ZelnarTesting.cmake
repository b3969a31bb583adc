# Test helpers shared by every directory.
#
# Windows tests are GoogleTest programs run by CTest through Wine, in a private prefix that the
# wine_prefix fixture prepares; native tests are plain GoogleTest programs for the portable code.

set(ZELNAR_GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZELNAR_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(WIN32)
  set(ZELNAR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Private Wine prefix for the tests")
  # A 64-bit program does not run in a 32-bit prefix: each tree has a prefix of its own bitness.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZELNAR_WINEARCH win64)
  else()
    set(ZELNAR_WINEARCH win32)
  endif()
  set(ZELNAR_WINE_RUN ${CMAKE_SOURCE_DIR}/tools/wine/run)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELNAR_WINE_RUN};--prefix;${ZELNAR_WINEPREFIX};--arch;${ZELNAR_WINEARCH})
endif()

# zelnar_add_wine_test(NAME SOURCES ... [LIBS ...] [LOCKS ...] [ENV ...] [NEEDS_DLL] [TIMEOUT s])
#   LOCKS: CTest resource locks, e.g. "hkcu" for tests that change the plug-in's registry key and
#          "desktop" for tests that open windows (all processes of a prefix share one desktop).
function(zelnar_add_wine_test name)
  cmake_parse_arguments(T "NEEDS_DLL" "TIMEOUT" "SOURCES;LIBS;LOCKS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main ${T_LIBS})
  # Tests may look into any layer; the products cannot.
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_NEEDS_DLL)
    add_dependencies(${name} zelnar)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    TIMEOUT ${T_TIMEOUT}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
endfunction()

# zelnar_add_native_test(NAME SOURCES ... [LIBS ...])
function(zelnar_add_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
