// Points HOME at a fresh temporary directory for the life of the object and
// removes the directory afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempHome {
public:
    TempHome()
    {
        char pattern[] = "/tmp/oru-home-XXXXXX";
        const char *made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
        const char *old = getenv("HOME");
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        setenv("HOME", path_.c_str(), 1);
    }
    ~TempHome()
    {
        if (hadOld_)
            setenv("HOME", old_.c_str(), 1);
        else
            unsetenv("HOME");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    const std::string &path() const { return path_; }
    std::string configFile() const { return path_ + "/.TAV/ORUconfig.xml"; }

private:
    std::string path_;
    std::string old_;
    bool hadOld_ = false;
};
