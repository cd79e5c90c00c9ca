# Tests of cross-built Windows executables, run under Wine by CTest.
#
#   velquor_add_wine_test(<name> <target> [<argument>...])
#
# adds test <name> that runs executable <target> with the arguments through the build's
# emulator (cmake/wine-run.sh, set by cmake/mingw-w64.cmake). Every such test requires the
# fixture "wine_session": its setup test starts Xvfb, a persistent wineserver with Wine's
# services and the fonts of the build folder's prefix, its cleanup test stops them again, so
# that the tests themselves start in milliseconds and never hang on Wine's services.
# The two fixture tests are created with the first wine test, in that test's folder.
include_guard(GLOBAL)

function(velquor_add_wine_test name target)
    get_property(haveSession GLOBAL PROPERTY VELQUOR_WINE_SESSION_ADDED)
    set(sessionScript ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/wine-session.sh)
    if(NOT haveSession)
        set_property(GLOBAL PROPERTY VELQUOR_WINE_SESSION_ADDED TRUE)
        add_test(NAME wine_session_start
                 COMMAND /bin/sh ${sessionScript} start ${CMAKE_BINARY_DIR})
        add_test(NAME wine_session_stop
                 COMMAND /bin/sh ${sessionScript} stop ${CMAKE_BINARY_DIR})
        set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session TIMEOUT 120)
        set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session TIMEOUT 60)
    endif()

    # A target as the command makes CTest run it through CMAKE_CROSSCOMPILING_EMULATOR.
    add_test(NAME ${name} COMMAND ${target} ${ARGN})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine_session
        TIMEOUT 300
        ENVIRONMENT "VELQUOR_WINE_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()
