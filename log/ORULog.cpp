#include "log/ORULog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <log4cpp/PatternLayout.hh>
#include <log4cpp/RollingFileAppender.hh>

#include "log/HomeDir.h"
#include "log/PrivateFolder.h"

namespace {
constexpr size_t kPathSize = 256;
constexpr size_t kMaxLogFileSize = 0x500000;
constexpr int kInfoPriority = 700;
constexpr mode_t kLogFileMode = 0644;

// log4cpp opens the file by name: before it does, the name must stand for
// this user's own plain file. A link or a stranger's file left there (by
// anyone, while older versions kept the folder world-writable) is removed;
// the folder is private by now, so nobody can put it back.
bool PrepareLogFile(const char *path)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = OpenOwnFile(path, O_WRONLY | O_APPEND | O_CREAT, kLogFileMode);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if ((errno != ELOOP && errno != EPERM) || unlink(path) != 0)
            return false;
    }
    return false;
}

// Reopening after a roll-over refuses a link in the file's place as well.
class PrivateRollingFileAppender : public log4cpp::RollingFileAppender {
public:
    PrivateRollingFileAppender(const std::string &name, const std::string &path)
        : RollingFileAppender(name, path, kMaxLogFileSize, 1, true, kLogFileMode)
    {
        _flags |= O_NOFOLLOW | O_CLOEXEC;
    }
};
} // namespace

bool initLogSaveDir(char *path)
{
    std::string home;
    if (!GetHomeDir(home)) {
        printf("get home path err\n");
        return false;
    }
    snprintf(path, kPathSize, "%s/.TAV", home.c_str());
    if (!EnsurePrivateFolder(path)) {
        printf("mkdir err\n");
        return false;
    }
    return true;
}

ORULog &ORULog::get_instance()
{
    // Function-local static: construction is thread-safe, destruction at exit.
    static ORULog instance;
    return instance;
}

ORULog::ORULog()
{
    log4cpp::Category::getRoot();
    m_pCategory = &log4cpp::Category::getInstance("ORUCamera");
    printf("constructor called!\n");

    auto *layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%d: %p %c %x: %m%n");

    char path[kPathSize] = {};
    bool privateFolder = initLogSaveDir(path);
    printf("the filepath is : %s\n", path);
    strncat(path, "/orucamerasdk", sizeof path - strlen(path) - 1);
    printf("the log file path is : %s\n", path);
    if (privateFolder && !EnsurePrivateFolder(path)) {
        printf("failed to create directory\n");
        privateFolder = false;
    }
    strncat(path, "/orucamerasdk.log", sizeof path - strlen(path) - 1);
    printf("the log is : %s\n", path);

    // Without a folder and file of this user's own the records go to
    // standard error only.
    if (privateFolder && PrepareLogFile(path)) {
        auto *appender = new PrivateRollingFileAppender("rollfileAppender", path);
        appender->setLayout(layout);
        m_pCategory->addAppender(appender);
    } else {
        delete layout;
    }
    m_pCategory->setPriority(kInfoPriority);
}

ORULog::~ORULog()
{
    printf("destructor called!\n");
    log4cpp::Category::shutdown();
}

void ORULog::setPriority(log4cpp::Priority::PriorityLevel priority)
{
    m_pCategory->setPriority(priority);
}

void ORULog::info(const char *message)
{
    m_pCategory->info(std::string(message));
}

void ORULog::warn(const char *message)
{
    m_pCategory->warn(std::string(message));
}

void ORULog::error(const char *message)
{
    m_pCategory->error(std::string(message));
}
