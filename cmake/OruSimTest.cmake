# oru_add_sim_test(<target> [<property> <value>]...): registers a GoogleTest
# binary whose tests host a simulated USB bus in-process. Each test runs
# under umockdev's preload, which both the bus and libusb need; further test
# properties (LABELS, TIMEOUT...) are passed on.
include(GoogleTest)

set(ORU_SIM_PRELOAD "LD_PRELOAD=libumockdev-preload.so.0")

function(oru_add_sim_test target)
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 30
        PROPERTIES ENVIRONMENT "${ORU_SIM_PRELOAD}" ${ARGN})
endfunction()
