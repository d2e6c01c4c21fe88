#include "log/LogSeverity.h"

#include <strings.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace {
constexpr const char *kNames[] = {"error", "warning", "info", "debug"};

// Read from the environment once, on first use.
struct Threshold {
    std::atomic<LogSeverity> severity{LogSeverity::Debug};
    std::string rejected;

    Threshold()
    {
        const char *value = std::getenv("ORU_LOG_LEVEL");
        if (value == nullptr || *value == '\0')
            return;
        LogSeverity parsed;
        if (ParseLogSeverity(value, &parsed))
            severity = parsed;
        else
            rejected = value;
    }
};

Threshold &TheThreshold()
{
    static Threshold threshold;
    return threshold;
}
} // namespace

void SetLogThreshold(LogSeverity threshold)
{
    TheThreshold().severity = threshold;
}

LogSeverity GetLogThreshold()
{
    return TheThreshold().severity;
}

bool ParseLogSeverity(const char *name, LogSeverity *severity)
{
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
        if (strcasecmp(name, kNames[i]) == 0) {
            *severity = static_cast<LogSeverity>(i);
            return true;
        }
    }
    return false;
}

const char *RejectedLogLevel()
{
    const std::string &rejected = TheThreshold().rejected;
    return rejected.empty() ? nullptr : rejected.c_str();
}
