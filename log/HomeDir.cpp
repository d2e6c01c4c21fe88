#include "log/HomeDir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

bool GetHomeDir(std::string &home)
{
    if (const char *env = getenv("HOME")) {
        home = env;
        return true;
    }
    long bufSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(bufSize > 0 ? static_cast<size_t>(bufSize) : 16384);
    passwd pw{};
    passwd *result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) != 0 || result == nullptr ||
        result->pw_dir == nullptr)
        return false;
    home = result->pw_dir;
    return true;
}
