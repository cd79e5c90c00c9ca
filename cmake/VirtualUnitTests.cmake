# Tests on virtual programming units inside Wine's HID stack (tests/win32/virtual_unit).
#
#   velquor_add_virtual_unit_test(<name> <target> [<argument>...])
#
# adds test <name> that runs executable <target> through the build's emulator, as
# velquor_add_wine_test does, but in a Wine session of its own, <build>/wine-vu: a fresh prefix
# for every run (Wine never unloads a driver, so a prefix that once loaded the minidriver keeps
# that build of it), left to settle after its first boot, without the waits for a window manager
# (Managed=N), on its own Xvfb. Two fixtures come with the first such test:
#   wine_vu_session  starts and stops that session (cmake/wine-session.sh start <build> wine-vu fresh);
#                    the stop also ends every program a failed or timed-out test left behind
#   virtual_unit     velquor_vunit check: installs the minidriver with a first unit, exchanges a
#                    report with it through hid.dll and pulls it out again
# When either setup fails, the tests that need it are not run, and CTest counts them as failed:
# a real-stack test that could not run never passes silently.
include_guard(GLOBAL)

function(velquor_add_virtual_unit_test name target)
    set(sessionScript ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/wine-session.sh)
    set(session ${CMAKE_BINARY_DIR}/wine-vu)
    set(environment "VELQUOR_WINE_BUILD_DIR=${CMAKE_BINARY_DIR};VELQUOR_WINE_SESSION=${session}")
    get_property(haveSession GLOBAL PROPERTY VELQUOR_VIRTUAL_UNIT_SESSION_ADDED)
    if(NOT haveSession)
        set_property(GLOBAL PROPERTY VELQUOR_VIRTUAL_UNIT_SESSION_ADDED TRUE)
        add_test(NAME wine_vu_session_start
                 COMMAND /bin/sh ${sessionScript} start ${CMAKE_BINARY_DIR} wine-vu fresh)
        add_test(NAME wine_vu_session_stop
                 COMMAND /bin/sh ${sessionScript} stop ${CMAKE_BINARY_DIR} wine-vu)
        set_tests_properties(wine_vu_session_start PROPERTIES FIXTURES_SETUP wine_vu_session TIMEOUT 240)
        set_tests_properties(wine_vu_session_stop PROPERTIES FIXTURES_CLEANUP wine_vu_session TIMEOUT 60)

        add_test(NAME virtual_unit_check COMMAND velquor_vunit check)
        set_tests_properties(virtual_unit_check PROPERTIES
            FIXTURES_REQUIRED wine_vu_session
            FIXTURES_SETUP virtual_unit
            TIMEOUT 120
            RESOURCE_LOCK velquor_virtual_unit
            ENVIRONMENT "${environment}")
    endif()

    add_test(NAME ${name} COMMAND ${target} ${ARGN})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED "wine_vu_session;virtual_unit"
        TIMEOUT 600
        RESOURCE_LOCK velquor_virtual_unit
        ENVIRONMENT "${environment}")
endfunction()
