// The rolling log file behind DbgPrint: ~/.TAV/orucamerasdk/orucamerasdk.log,
// 5 MiB, one backup, through log4cpp. Created on first use, kept until exit.
// Thread safety: get_instance() constructs the log once however many threads
// ask at first; writes rely on log4cpp's appender locking.
#pragma once

#include <string>
#include <vector>

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

class ORULog {
public:
    static ORULog &get_instance();

    void setPriority(log4cpp::Priority::PriorityLevel priority);
    // Messages are logged as they stand, never used as a format.
    void info(const char *message);
    void warn(const char *message);
    void error(const char *message);
    void log(log4cpp::Priority::PriorityLevel priority, const char *message);

    ORULog(const ORULog &) = delete;
    ORULog &operator=(const ORULog &) = delete;

private:
    ORULog();
    ~ORULog();
    // Into the file when it could be opened, else onto standard error.
    void Record(const std::string &text);

    log4cpp::Category *m_pCategory;
    bool m_bFileOpen = false;
};

// Writes "<home>/.TAV" into path (at least 256 bytes) and creates it when
// needed, closed to other users' writes (EnsurePrivateFolder). Its messages
// go into `notes`, or onto standard error without a list; never onto
// standard output, which belongs to the program.
bool initLogSaveDir(char *path, std::vector<std::string> *notes = nullptr);
