# The browser-backed extractor, through the real plug-in, in a prefix of its own where the program
# identifier names it instead of the stand-in (so the stand-in's tests stay as they are).
set(ZELNAR_BROWSER_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix-browser)
add_test(NAME wine_prefix_browser COMMAND ${CMAKE_SOURCE_DIR}/tools/wine/prepare-prefix ${ZELNAR_BROWSER_WINEPREFIX}
         ${CMAKE_BINARY_DIR}/bin/reg-browser)
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
set_tests_properties(browser_extractor_test PROPERTIES FIXTURES_REQUIRED wine_prefix_browser TIMEOUT 300
                     RESOURCE_LOCK browser ENVIRONMENT LANG=ja_JP.UTF-8
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
