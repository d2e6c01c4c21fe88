// How serious a log message is, and the threshold that keeps the less serious
// ones out of the log. The threshold starts from the environment variable
// ORU_LOG_LEVEL ("error", "warning", "info" or "debug", any case); without it,
// or with another value, every message is written.
// Thread safety: callable from any thread.
#pragma once

// Most serious first: a message is written when it is not below the threshold.
enum class LogSeverity { Error, Warning, Info, Debug };

void SetLogThreshold(LogSeverity threshold);
LogSeverity GetLogThreshold();

// "error", "warning", "info" or "debug" in any case; false for anything else.
bool ParseLogSeverity(const char *name, LogSeverity *severity);

// The value of ORU_LOG_LEVEL when it named no severity, else null.
const char *RejectedLogLevel();
