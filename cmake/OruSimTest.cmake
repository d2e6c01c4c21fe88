# oru_add_sim_test(<target> [TIMING <Suite.Test>...]): registers a GoogleTest
# binary whose tests host a simulated USB bus in-process. Each test runs under
# umockdev's preload, which both the bus and libusb need.
#
# TIMING names the tests that hold the host to the camera's real-time pace
# (frame pacing, consecutive frames at full rate, transfers in flight, exposures
# measured by the clock). They carry the label "timing": runs on a slowed host
# (emulation, sanitizers) leave them out with ctest -LE timing.
include(GoogleTest)

set(ORU_SIM_PRELOAD "LD_PRELOAD=${ORU_UMOCKDEV_PRELOAD}")

function(oru_add_sim_test target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "TIMING")
    if(NOT ARG_TIMING)
        gtest_discover_tests(${target}
            DISCOVERY_TIMEOUT 30
            PROPERTIES ENVIRONMENT "${ORU_SIM_PRELOAD}")
        return()
    endif()
    list(JOIN ARG_TIMING ":" timing)
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 30
        TEST_FILTER "-${timing}"
        PROPERTIES ENVIRONMENT "${ORU_SIM_PRELOAD}")
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 30
        TEST_FILTER "${timing}"
        PROPERTIES ENVIRONMENT "${ORU_SIM_PRELOAD}" LABELS timing)
endfunction()
