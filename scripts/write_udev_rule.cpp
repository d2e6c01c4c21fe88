// Build-time tool: writes the udev rule file into the directory given, with
// the library's own writer, so that the installed example matches what
// create_udev_file() gives users.
#include <cstdio>

#include "wrapper/Udev.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    return tav_oru::internal::create_udev_file(argv[1]) ? 0 : 1;
}
