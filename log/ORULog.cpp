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

// Standard output belongs to the program using the library: texts go to the
// caller's list, or to standard error without one.
void Note(std::vector<std::string> *notes, const std::string &text)
{
    if (notes != nullptr)
        notes->push_back(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}
} // namespace

bool initLogSaveDir(char *path, std::vector<std::string> *notes)
{
    std::string home;
    if (!GetHomeDir(home)) {
        Note(notes, "get home path err");
        return false;
    }
    snprintf(path, kPathSize, "%s/.TAV", home.c_str());
    if (!EnsurePrivateFolder(path)) {
        Note(notes, "mkdir err");
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
    std::vector<std::string> notes{"constructor called!"};

    auto *layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%d: %p %c %x: %m%n");

    char path[kPathSize] = {};
    bool privateFolder = initLogSaveDir(path, &notes);
    notes.push_back(std::string("the filepath is : ") + path);
    strncat(path, "/orucamerasdk", sizeof path - strlen(path) - 1);
    notes.push_back(std::string("the log file path is : ") + path);
    if (privateFolder && !EnsurePrivateFolder(path)) {
        notes.push_back("failed to create directory");
        privateFolder = false;
    }
    strncat(path, "/orucamerasdk.log", sizeof path - strlen(path) - 1);
    notes.push_back(std::string("the log is : ") + path);

    // Without a folder and file of this user's own the records go to
    // standard error only.
    if (privateFolder && PrepareLogFile(path)) {
        auto *appender = new PrivateRollingFileAppender("rollfileAppender", path);
        appender->setLayout(layout);
        m_pCategory->addAppender(appender);
        m_bFileOpen = true;
    } else {
        delete layout;
    }
    m_pCategory->setPriority(kInfoPriority);
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

void ORULog::log(log4cpp::Priority::PriorityLevel priority, const char *message)
{
    m_pCategory->log(priority, std::string(message));
}
