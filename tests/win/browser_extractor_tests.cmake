# The browser-backed extractor, through the real plug-in of the tree's bitness, in a prefix of that
# bitness of its own where the program identifier names it instead of the stand-in (so the stand-in's
# tests stay as they are).
set(ZELNAR_BROWSER_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix-browser)
add_test(NAME wine_prefix_browser COMMAND ${CMAKE_SOURCE_DIR}/tools/wine/prepare-prefix --arch ${ZELNAR_WINEARCH}
         ${ZELNAR_BROWSER_WINEPREFIX} ${CMAKE_BINARY_DIR}/bin/reg-browser)
set_tests_properties(wine_prefix_browser PROPERTIES FIXTURES_SETUP wine_prefix_browser TIMEOUT 300
                     RESOURCE_LOCK browser)

add_executable(browser_extractor_test browser_extractor_test.cpp)
target_include_directories(browser_extractor_test PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(browser_extractor_test PRIVATE ZELNAR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(browser_extractor_test PRIVATE GTest::gtest_main advapi32 ws2_32)
add_dependencies(browser_extractor_test zelnar zelnar_browser)
# Paths reach the plug-in in the ANSI code page: the Japanese locale makes it 932.
add_test(NAME browser_extractor_test COMMAND ${ZELNAR_WINE_RUN} --prefix ${ZELNAR_BROWSER_WINEPREFIX}
         $<TARGET_FILE:browser_extractor_test> --gtest_brief=1)
set_tests_properties(browser_extractor_test PROPERTIES FIXTURES_REQUIRED wine_prefix_browser TIMEOUT 600
                     RESOURCE_LOCK browser ENVIRONMENT LANG=ja_JP.UTF-8
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # A 32-bit host in a 64-bit prefix, as in a Wine user's default ~/.wine: the extractor registered
  # there the way a user registers it, into the prefix's 32-bit registry view. Where the pixels land.
  set(browser_wow64_prefix ${CMAKE_BINARY_DIR}/wineprefix-browser-wow64)
  add_test(NAME wine_prefix_browser_wow64
           COMMAND bash -c "\"$0\" --arch win64 \"$1\" && WINEPREFIX=\"$1\" \"$2\" --dll \"$3\""
                   ${CMAKE_SOURCE_DIR}/tools/wine/prepare-prefix ${browser_wow64_prefix}
                   ${CMAKE_SOURCE_DIR}/tools/browser_extractor/register-wine $<TARGET_FILE:zelnar_browser>)
  set_tests_properties(wine_prefix_browser_wow64 PROPERTIES FIXTURES_SETUP wine_prefix_browser_wow64 TIMEOUT 300
                       RESOURCE_LOCK browser)
  add_test(NAME browser_extractor_test_wow64 COMMAND ${ZELNAR_WINE_RUN} --prefix ${browser_wow64_prefix}
           $<TARGET_FILE:browser_extractor_test> --gtest_brief=1 --gtest_filter=BrowserExtractor.PutsEveryBox*)
  set_tests_properties(browser_extractor_test_wow64 PROPERTIES FIXTURES_REQUIRED wine_prefix_browser_wow64
                       TIMEOUT 300 RESOURCE_LOCK browser ENVIRONMENT LANG=ja_JP.UTF-8
                       WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
else()
  # register-wine on prefixes of both bitnesses, with the extractors of both trees (the 32-bit tree is
  # built first by scripts/build; without it the test is skipped, saying so).
  set(ZELNAR_BROWSER_DLL32 ${CMAKE_BINARY_DIR}/../win/bin/zelnar_browser.dll CACHE FILEPATH
      "The 32-bit zelnar_browser.dll for the registration test")
  add_test(NAME register_wine_test
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/register_wine_test ${CMAKE_SOURCE_DIR}/tools/browser_extractor/register-wine
                   ${CMAKE_BINARY_DIR}/register-wine-test ${ZELNAR_BROWSER_DLL32} $<TARGET_FILE:zelnar_browser>)
  set_tests_properties(register_wine_test PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
