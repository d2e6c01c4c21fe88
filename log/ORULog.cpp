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

// Standard output belongs to the program using the library: texts go to the
// caller's list, or to standard error without one.
void Note(std::vector<std::string> *notes, const std::string &text)
{
    if (notes != nullptr)
        notes->push_back(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}
}

bool initLogSaveDir(char *path, std::vector<std::string> *notes)
{
    std::string home;
    if (!GetHomeDir(home)) {
        Note(notes, "get home path err");
        return false;
    }
    snprintf(path, kPathSize, "%s/.TAV", home.c_str());
    if (access(path, F_OK) == 0)
        return true;
    if (mkdir(path, 0700) != 0) {
        Note(notes, "mkdir err");
        return false;
    }
    if (chmod(path, 0777) != 0)
        Note(notes, std::string("chmod error: ") + path);
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
    std::vector<std::string> notes{"constructor called!"};

    auto *layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%d: %p %c %x: %m%n");

    char path[kPathSize] = {};
    initLogSaveDir(path, &notes);
    notes.push_back(std::string("the filepath is : ") + path);
    strncat(path, "/orucamerasdk", sizeof path - strlen(path) - 1);
    notes.push_back(std::string("the log file path is : ") + path);
    if (mkdir(path, 0775) != 0)
        notes.push_back("failed to create directory");
    strncat(path, "/orucamerasdk.log", sizeof path - strlen(path) - 1);
    notes.push_back(std::string("the log is : ") + path);

    auto *appender = new log4cpp::RollingFileAppender("rollfileAppender", path, kMaxLogFileSize,
                                                      1, true, 0644);
    appender->setLayout(layout);
    m_pCategory->addAppender(appender);
    m_pCategory->setPriority(kInfoPriority);

    // The appender has created the file if it could.
    m_bFileOpen = access(path, W_OK) == 0;
    for (const std::string &note : notes)
        Record(note);
}

ORULog::~ORULog()
{
    Record("destructor called!");
    log4cpp::Category::shutdown();
}

void ORULog::Record(const std::string &text)
{
    if (m_bFileOpen)
        m_pCategory->info(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
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
