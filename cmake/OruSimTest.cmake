# oru_discover_tests(<target> [SIM | LAUNCHER] [TIMING <test>...]
#                    [PROPERTIES <property> <value>...]): registers the tests
# of a GoogleTest binary, with further test properties (LABELS, TIMEOUT...).
#   SIM       the tests host a simulated USB bus in-process; each runs under
#             umockdev's preload, which both the bus and libusb need.
#   LAUNCHER  the tests start oru-sim, which adds umockdev's preload.
#   TIMING    these tests (Suite.Name, gtest wildcards allowed) hold a
#             simulated camera to its real rates or time what they wait for.
#             They carry the label "timing", so that runs slowed down by a
#             sanitizer or an emulator leave them out with `ctest -LE timing`.
include(GoogleTest)

# Sanitizer builds preload their runtime ahead of umockdev's library: the
# runtime must be the first library a process loads. Only processes that get
# umockdev's preload need it (a Python child of a test is better without).
set(ORU_TEST_PRELOAD "${ORU_SANITIZER_RUNTIME}")
set(ORU_SIM_PRELOAD "${ORU_TEST_PRELOAD}")
list(APPEND ORU_SIM_PRELOAD ${ORU_UMOCKDEV_PRELOAD})
list(JOIN ORU_SIM_PRELOAD ":" ORU_SIM_PRELOAD)
# The environment of a test that starts oru-sim, which keeps what LD_PRELOAD
# holds ahead of umockdev's library.
set(ORU_LAUNCHER_ENVIRONMENT)
if(ORU_TEST_PRELOAD)
    set(ORU_LAUNCHER_ENVIRONMENT "LD_PRELOAD=${ORU_TEST_PRELOAD}")
endif()

function(oru_discover_tests target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "SIM;LAUNCHER" "" "TIMING;PROPERTIES")
    set(preload)
    if(ARG_SIM)
        set(preload "${ORU_SIM_PRELOAD}")
    elseif(ARG_LAUNCHER)
        set(preload "${ORU_TEST_PRELOAD}")
    endif()
    set(properties ${ARG_PROPERTIES})
    if(preload)
        list(APPEND properties ENVIRONMENT "LD_PRELOAD=${preload}")
    endif()
    if(ARG_TIMING)
        list(JOIN ARG_TIMING ":" timing)
        gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30 TEST_FILTER "-${timing}" PROPERTIES ${properties})
        gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30 TEST_FILTER "${timing}"
                             PROPERTIES ${properties} LABELS timing)
    else()
        gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30 PROPERTIES ${properties})
    endif()
endfunction()
