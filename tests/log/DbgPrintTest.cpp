// Runs in its own process: the log singleton and its file are created once,
// under the HOME this program sets before the first test.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "log/DbgPrint.h"
#include "tests/TempHome.h"

namespace {

TempHome *g_home = nullptr;

std::string Prefix(const std::string &tagPart)
{
    return "[" + std::to_string(getpid()) + "," + std::to_string(syscall(SYS_gettid)) + " " +
           tagPart + "]: ";
}

std::string FileText(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string LogFileText()
{
    return FileText(g_home->path() + "/.TAV/orucamerasdk/orucamerasdk.log");
}

mode_t ModeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

std::string CaptureDbgPrint(int level, const char *tag, const char *message,
                            LogSeverity severity = LogSeverity::Info)
{
    testing::internal::CaptureStderr();
    DbgPrint(severity, level, tag, "%s", message);
    return testing::internal::GetCapturedStderr();
}

// The log file's line holding `text`, empty when there is none.
std::string LogFileLineWith(const std::string &text)
{
    std::istringstream file(LogFileText());
    for (std::string line; std::getline(file, line);)
        if (line.find(text) != std::string::npos)
            return line;
    return "";
}

} // namespace

// Declared first: it must run before anything has created the log folder.
TEST(DbgPrint, WhileSwitchedOffWritesNothingAndCreatesNoFolder)
{
    g_bDebugPrint = false;
    EXPECT_EQ(CaptureDbgPrint(-1, "OpenCamera", "open camera success\n"), "");
    EXPECT_FALSE(std::filesystem::exists(g_home->path() + "/.TAV"));
}

// Before the first message that opens the log: the folders as older versions
// left them (anyone may write) and a link planted where the log file goes.
TEST(DbgPrint, TheLogFoldersAreClosedAndALinkInPlaceOfTheFileIsNotWrittenThrough)
{
    const std::string folder = g_home->path() + "/.TAV";
    const std::string logFolder = folder + "/orucamerasdk";
    ASSERT_TRUE(std::filesystem::create_directories(logFolder));
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    ASSERT_EQ(chmod(logFolder.c_str(), 0777), 0);
    const std::string target = g_home->path() + "/target";
    std::ofstream(target) << "kept\n";
    std::filesystem::create_symlink(target, logFolder + "/orucamerasdk.log");

    g_bDebugPrint = true;
    CaptureDbgPrint(-1, "OpenCamera", "first record\n");

    EXPECT_EQ(FileText(target), "kept\n");
    EXPECT_TRUE(S_ISREG(ModeOf(logFolder + "/orucamerasdk.log")));
    EXPECT_NE(LogFileText().find("first record"), std::string::npos);
    EXPECT_EQ(ModeOf(folder) & 0777, 0755u);
    EXPECT_EQ(ModeOf(logFolder) & 0777, 0755u);
}

TEST(DbgPrint, PlainLevelGoesToStandardErrorAndToTheFileWithoutItsNewline)
{
    g_bDebugPrint = true;
    const std::string line = Prefix("OpenCamera") + "open camera success\n";
    EXPECT_EQ(CaptureDbgPrint(-1, "OpenCamera", "open camera success\n"), line);
    const std::string file = LogFileText();
    const std::string record = line.substr(0, line.size() - 1);
    ASSERT_NE(file.find(record), std::string::npos) << file;
    EXPECT_NE(file.find("INFO"), std::string::npos);
    EXPECT_EQ(file.find("\n\n"), std::string::npos) << "the message newline must be removed";
}

TEST(DbgPrint, PositiveLevelIsShownInHexBeforeTheTag)
{
    g_bDebugPrint = true;
    EXPECT_EQ(CaptureDbgPrint(0x1A, "SetExp", "x\n"), Prefix("1A::SetExp") + "x\n");
    EXPECT_EQ(CaptureDbgPrint(0, "SetExp", "x\n"), Prefix("SetExp") + "x\n");
}

TEST(DbgPrint, LineIsCutAt256BytesIncludingThePrefix)
{
    g_bDebugPrint = true;
    const std::string message(400, 'm');
    const std::string out = CaptureDbgPrint(-1, "T", message.c_str());
    ASSERT_EQ(out.size(), 255u);
    EXPECT_EQ(out, (Prefix("T") + message).substr(0, 255));
}

TEST(DbgPrint, TheThresholdKeepsOutLessSevereMessagesAndRecordsCarryTheirPriority)
{
    struct Level {
        LogSeverity severity;
        const char *name;
        const char *priority;
    };
    const Level levels[] = {{LogSeverity::Error, "error", ": ERROR ORUCamera"},
                            {LogSeverity::Warning, "warning", ": WARN ORUCamera"},
                            {LogSeverity::Info, "info", ": INFO ORUCamera"},
                            {LogSeverity::Debug, "debug", ": DEBUG ORUCamera"}};
    g_bDebugPrint = true;
    for (const Level &threshold : levels) {
        SetLogThreshold(threshold.severity);
        for (const Level &message : levels) {
            const std::string text =
                std::string("threshold ") + threshold.name + ", message " + message.name;
            SCOPED_TRACE(text);
            const bool written = message.severity <= threshold.severity;
            EXPECT_EQ(CaptureDbgPrint(-1, "Threshold", (text + "\n").c_str(), message.severity),
                      written ? Prefix("Threshold") + text + "\n" : "");
            const std::string record = LogFileLineWith(text);
            if (written)
                EXPECT_NE(record.find(message.priority), std::string::npos) << record;
            else
                EXPECT_EQ(record, "");
        }
    }
    SetLogThreshold(LogSeverity::Debug);
}

TEST(DbgPrint, SeverityNamesAreReadInAnyCase)
{
    LogSeverity severity = LogSeverity::Debug;
    EXPECT_TRUE(ParseLogSeverity("ERROR", &severity));
    EXPECT_EQ(severity, LogSeverity::Error);
    EXPECT_TRUE(ParseLogSeverity("Warning", &severity));
    EXPECT_EQ(severity, LogSeverity::Warning);
    EXPECT_FALSE(ParseLogSeverity("warn", &severity));
    EXPECT_FALSE(ParseLogSeverity("", &severity));
    EXPECT_EQ(severity, LogSeverity::Warning);
}

// Each of these runs in a process of its own, with ORU_LOG_LEVEL set by the
// test list (tests/CMakeLists.txt).
TEST(LogLevelFromEnvironment, WarningKeepsInfoOut)
{
    EXPECT_EQ(GetLogThreshold(), LogSeverity::Warning);
    g_bDebugPrint = true;
    EXPECT_EQ(CaptureDbgPrint(-1, "Env", "info\n", LogSeverity::Info), "");
    EXPECT_EQ(CaptureDbgPrint(-1, "Env", "warning\n", LogSeverity::Warning),
              Prefix("Env") + "warning\n");
}

TEST(LogLevelFromEnvironment, UnknownValueWritesEverythingAndSaysSoOnce)
{
    EXPECT_EQ(GetLogThreshold(), LogSeverity::Debug);
    g_bDebugPrint = true;
    const std::string note = "unknown log level \"loud\" ignored, every message is written";
    EXPECT_EQ(CaptureDbgPrint(-1, "Env", "first\n", LogSeverity::Debug),
              Prefix("ORU_LOG_LEVEL") + note + "\n" + Prefix("Env") + "first\n");
    EXPECT_EQ(CaptureDbgPrint(-1, "Env", "second\n", LogSeverity::Debug),
              Prefix("Env") + "second\n");
    EXPECT_NE(LogFileLineWith(note).find(": WARN ORUCamera"), std::string::npos);
}

TEST(DbgPrint, PercentSignIsRecordedLiterally)
{
    g_bDebugPrint = true;
    CaptureDbgPrint(-1, "Percent", "load 100%s %d%% done");
    EXPECT_NE(LogFileText().find("load 100%s %d%% done"), std::string::npos);
}

int main(int argc, char **argv)
{
    TempHome home;
    g_home = &home;
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    g_bDebugPrint = false;
    return result;
}
