# 32-bit Arm hard-float Linux with Debian's cross compiler
# (crossbuild-essential-armhf) and the armhf libraries of a multiarch system;
# programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# GCC's notes that argument passing differs from GCC 7.1 and older concern
# linking with code those built, which nothing here is.
set(CMAKE_C_FLAGS_INIT -Wno-psabi)
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
# Looks in the armhf pkg-config folders only.
set(PKG_CONFIG_EXECUTABLE arm-linux-gnueabihf-pkg-config CACHE FILEPATH "pkg-config for armhf")

find_program(ORU_QEMU_ARM qemu-arm-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORU_QEMU_ARM})

# pkg-config files below the CMAKE_PREFIX_PATH entries, in Debian's multiarch
# folder, which FindPkgConfig looks into on native builds only.
set(ORU_PKG_CONFIG_PATH "$ENV{PKG_CONFIG_PATH}")
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
    list(APPEND ORU_PKG_CONFIG_PATH "${prefix}/lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkgconfig")
endforeach()
string(REPLACE ";" ":" ORU_PKG_CONFIG_PATH "${ORU_PKG_CONFIG_PATH}")
set(ENV{PKG_CONFIG_PATH} "${ORU_PKG_CONFIG_PATH}")
