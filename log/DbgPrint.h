// The engine's one logging entry point. While g_bDebugPrint is off a message
// costs one flag test; while on, each message at or above the log threshold
// (LogSeverity.h) becomes one line on standard error and one record in the
// rolling log file (see ORULog), whose priority is the message's severity.
// Thread safety: callable from any thread.
#pragma once

#include <atomic>
#include <cstdarg>

#include "log/LogSeverity.h"

// Process-wide debug switch, off at start.
extern std::atomic<bool> g_bDebugPrint;

// level < 1: prefix "[pid,tid tag]: "; otherwise "[pid,tid LEVEL::tag]: " with
// the level in hexadecimal. The whole line is cut at 256 bytes.
void DbgPrint(LogSeverity severity, int level, const char *tag, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
void DbgPrintV(LogSeverity severity, int level, const char *tag, const char *format, va_list args)
    __attribute__((format(printf, 4, 0)));
