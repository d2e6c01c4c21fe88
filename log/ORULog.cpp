#include "log/ORULog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <log4cpp/PatternLayout.hh>
#include <log4cpp/RollingFileAppender.hh>

#include "log/HomeDir.h"

namespace {
constexpr size_t kPathSize = 256;
constexpr size_t kMaxLogFileSize = 0x500000;
constexpr int kInfoPriority = 700;
}

bool initLogSaveDir(char *path)
{
    std::string home;
    if (!GetHomeDir(home)) {
        printf("get home path err\n");
        return false;
    }
    snprintf(path, kPathSize, "%s/.TAV", home.c_str());
    if (access(path, F_OK) == 0)
        return true;
    if (mkdir(path, 0700) != 0) {
        printf("mkdir err\n");
        return false;
    }
    if (chmod(path, 0777) != 0)
        printf("chmod error: %s\n", path);
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
    initLogSaveDir(path);
    printf("the filepath is : %s\n", path);
    strncat(path, "/orucamerasdk", sizeof path - strlen(path) - 1);
    printf("the log file path is : %s\n", path);
    if (mkdir(path, 0775) != 0)
        printf("failed to create directory\n");
    strncat(path, "/orucamerasdk.log", sizeof path - strlen(path) - 1);
    printf("the log is : %s\n", path);

    auto *appender = new log4cpp::RollingFileAppender("rollfileAppender", path, kMaxLogFileSize,
                                                      1, true, 0644);
    appender->setLayout(layout);
    m_pCategory->addAppender(appender);
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
