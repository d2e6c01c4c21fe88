# What `cmake --install` puts under the prefix: the public header, the shared
# library with its pkg-config file, the Python package with its module, the
# simulator launcher and an example udev rule.
include(GNUInstallDirs)

install(FILES api/ORUCamera.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tav_oru LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

set(ORU_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH ORU_PC_TO_PREFIX /${ORU_PC_DIR} /)
string(REGEX REPLACE "/$" "" ORU_PC_TO_PREFIX "${ORU_PC_TO_PREFIX}")
configure_file(cmake/tav_oru.pc.in tav_oru.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tav_oru.pc DESTINATION ${ORU_PC_DIR})

if(ORU_BUILD_PYTHON)
    # Empty: the directory under the prefix that the interpreter searches, found
    # by asking it; otherwise lib/pythonX.Y/site-packages (then on PYTHONPATH).
    set(PYTHON_INSTALL_DIR "" CACHE PATH
        "Where the Python package goes (relative to the prefix, or absolute); empty: chosen for the prefix")
    set(ORU_PYTHON_INSTALL_DIR "${PYTHON_INSTALL_DIR}")
    if(ORU_PYTHON_INSTALL_DIR STREQUAL "")
        execute_process(
            COMMAND ${Python_EXECUTABLE} -c [[
import os, sys
prefix = os.path.normpath(sys.argv[1])
version = "python%d.%d" % sys.version_info[:2]
candidates = ["lib/python3/dist-packages", "lib/%s/dist-packages" % version,
              "lib/%s/site-packages" % version]
searched = {os.path.normpath(p) for p in sys.path if p}
print(next((c for c in candidates if os.path.join(prefix, c) in searched), candidates[-1]))
]] ${CMAKE_INSTALL_PREFIX}
            OUTPUT_VARIABLE ORU_PYTHON_INSTALL_DIR
            OUTPUT_STRIP_TRAILING_WHITESPACE
            COMMAND_ERROR_IS_FATAL ANY)
    endif()
    install(TARGETS bindings LIBRARY DESTINATION ${ORU_PYTHON_INSTALL_DIR}/tav_oru)
    install(DIRECTORY python/tav_oru/ DESTINATION ${ORU_PYTHON_INSTALL_DIR}/tav_oru
            FILES_MATCHING PATTERN "*.py" PATTERN "*.pyi" PATTERN "py.typed"
            PATTERN "__pycache__" EXCLUDE)
endif()

install(TARGETS oru-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The rule file, written by the library itself so that it matches what
# create_udev_file() writes for users.
set(ORU_UDEV_RULE_DIR ${PROJECT_BINARY_DIR}/udev)
file(MAKE_DIRECTORY ${ORU_UDEV_RULE_DIR})
add_executable(write_udev_rule scripts/write_udev_rule.cpp)
target_link_libraries(write_udev_rule PRIVATE oru_wrapper)
add_custom_command(
    OUTPUT ${ORU_UDEV_RULE_DIR}/99-oru.rules
    COMMAND write_udev_rule ${ORU_UDEV_RULE_DIR}
    DEPENDS write_udev_rule
    VERBATIM)
add_custom_target(udev_rule ALL DEPENDS ${ORU_UDEV_RULE_DIR}/99-oru.rules)
install(FILES ${ORU_UDEV_RULE_DIR}/99-oru.rules DESTINATION ${CMAKE_INSTALL_DATADIR}/tav_oru)
