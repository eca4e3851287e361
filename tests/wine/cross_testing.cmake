# Testing in the Windows cross builds: GoogleTest built from Debian's sources with the MinGW
# compilers, every test binary run under Wine in one prefix made fresh for each test run.

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Third-party code: the project's warning flags are not its concern.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_OPTIONS -w)

# The Wine loader for this build's programs. Debian's "wine" starts through the 32-bit loader
# even for 64-bit programs, which fails on a kernel that runs no 32-bit code: the 64-bit build
# uses the 64-bit loader directly, so that its tests run wherever Wine runs.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PELLATRIX_WINE_LOADER_ENVIRONMENT "PELLATRIX_WINE=/usr/lib/wine/wine64"
                                        "WINELOADER=/usr/lib/wine/wine64")
else()
  set(PELLATRIX_WINE_LOADER_ENVIRONMENT "PELLATRIX_WINE=/usr/lib/wine/wine")
endif()
set(PELLATRIX_WINE_ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml="
    ${PELLATRIX_WINE_LOADER_ENVIRONMENT})

add_test(NAME wine_prefix COMMAND ${CMAKE_CURRENT_LIST_DIR}/make_prefix.sh)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 180
                                            ENVIRONMENT "${PELLATRIX_WINE_ENVIRONMENT}")
# No Wine process outlives the test run.
add_test(NAME wine_prefix_stop COMMAND sh -c "wineserver -k 2>/dev/null || true")
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix
                                                 ENVIRONMENT "${PELLATRIX_WINE_ENVIRONMENT}")

# pellatrix_wine_test(NAME COMMAND...): a test run under Wine in the test run's prefix, one at a
# time (they share its drive_c), skipped where the build's loader cannot start: a test that
# cannot start it (a 32-bit build on a kernel without 32-bit code) says so in one line and exits
# with status 77, which CTest counts as skipped.
function(pellatrix_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix
                                          ENVIRONMENT "${PELLATRIX_WINE_ENVIRONMENT}"
                                          SKIP_RETURN_CODE 77
                                          RESOURCE_LOCK wine_drive_c TIMEOUT 600)
endfunction()
