// Turns a hang into a failure: unless the watchdog is destroyed within its
// time limit, it prints what it was guarding and the stack of every thread
// of the process to standard error (through gdb when it is installed, else
// by having each thread print its own backtrace) and aborts the process, so
// that a deadlock fails the test run instead of stalling it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, std::string what);
    // Disarms; returns at once.
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // Prints the stack of every thread of this process to standard error.
    static void PrintAllStacks();

private:
    void Guard(std::chrono::steady_clock::time_point deadline);

    std::string what_;
    std::mutex mutex_;
    std::condition_variable disarmed_;
    bool done_ = false;
    std::thread thread_;
};
