# Windows test programs run under 64-bit Wine by ctest.
#
#   brindle_wine_tests(<target>)
#
# registers the GoogleTest cases of <target> as "wine.<Suite>.<Case>". The cases are
# listed at test time, under Wine, so the build never needs Wine. All Wine tests of a
# build tree share one prefix (made once, under a lock) and one Xvfb, which the
# fixture tests wine.display.start / wine.display.stop bring up and take down.
include_guard(GLOBAL)
include(GoogleTest)

set(BRINDLE_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(BRINDLE_WINE_RUN ${PROJECT_SOURCE_DIR}/tools/wine-run)

function(brindle_wine_tests target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # These machines cannot run 32-bit programs, so 32-bit builds are built only.
    return()
  endif()
  get_property(fixture_added GLOBAL PROPERTY BRINDLE_WINE_FIXTURE)
  if(NOT fixture_added)
    set_property(GLOBAL PROPERTY BRINDLE_WINE_FIXTURE ON)
    add_test(NAME wine.display.start COMMAND ${BRINDLE_WINE_RUN} --start-x ${BRINDLE_WINE_STATE})
    add_test(NAME wine.display.stop COMMAND ${BRINDLE_WINE_RUN} --stop-x ${BRINDLE_WINE_STATE})
    set_tests_properties(wine.display.start PROPERTIES FIXTURES_SETUP wine_display TIMEOUT 60)
    set_tests_properties(wine.display.stop PROPERTIES FIXTURES_CLEANUP wine_display TIMEOUT 60)
  endif()
  set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR
               ${BRINDLE_WINE_RUN} ${BRINDLE_WINE_STATE})
  gtest_discover_tests(${target}
    TEST_PREFIX "wine."
    WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    DISCOVERY_MODE PRE_TEST
    # The first listing makes the Wine prefix.
    DISCOVERY_TIMEOUT 180
    PROPERTIES FIXTURES_REQUIRED wine_display TIMEOUT 120)
endfunction()
