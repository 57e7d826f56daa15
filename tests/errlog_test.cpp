// The diagnostics log on disk: its switch, its lines and its cut.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "errlog/errlog.h"
#include "halvex32.h"
#include "platform/platform.h"
#include "portable.h"

namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Windows keeps no permission bits to check.
void ExpectMode(const std::string &path, unsigned mode)
{
#ifdef _WIN32
    (void)path;
    (void)mode;
#else
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, mode);
#endif
}

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = MakeTestDirectory("log");
        SetEnv(TempVariable, directory);
        logPath = directory + "/halvex32.log";
        InitErrorLog();
    }
    void TearDown() override
    {
        SetLogEnabled(0);
        DeleteErrorLog();
        UnsetEnv(TempVariable);
        RemoveTree(directory);
    }
    std::string directory;
    std::string logPath;
};

TEST_F(ErrorLogTest, OffWritesNothing)
{
    SetLogEnabled(0);
    EXPECT_EQ(StartErrorLog("halvex32", "halvex32.log"), 0);
    EXPECT_EQ(OutputDebug("hello\n"), 0);
    EXPECT_EQ(ErrorLog("%d\n", 1), 0);
    EXPECT_FALSE(Exists(logPath));
}

#ifndef _WIN32
// The log's name in a shared directory, planted as a link (or as something
// that is not a file), leads nowhere: nothing is written and no mode changes.
TEST_F(ErrorLogTest, APlantedLinkOrFifoIsNeitherFollowedNorChanged)
{
    std::string victim = directory + "/victim";
    {
        std::ofstream(victim) << "precious\n";
    }
    chmod(victim.c_str(), 0600);
    ASSERT_EQ(symlink(victim.c_str(), logPath.c_str()), 0);
    SetLogEnabled(1);
    StartErrorLog("halvex32", "halvex32.log");
    EXPECT_EQ(ErrorLog("%s\n", "written"), -1) << "no log to write";
    ExpectMode(victim, 0600);
    EXPECT_EQ(ReadFile(victim), "precious\n");

    unlink(logPath.c_str());
    ASSERT_EQ(mkfifo(logPath.c_str(), 0600), 0);
    EXPECT_EQ(ErrorLog("%s\n", "written"), -1) << "and no wait on a pipe";
}
#endif

TEST_F(ErrorLogTest, FirstLineCarriesTagAndCutTime)
{
    SetLogEnabled(1);
    EXPECT_EQ(StartErrorLog("halvex32", "halvex32.log"), 0);
    std::string log = ReadFile(logPath);
    EXPECT_TRUE(std::regex_match(
        log, std::regex("halvex32: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [ 1-3][0-9] "
                        "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]: Error logging started for halvex32" +
                        std::string(LineEnd))))
        << log;
    ExpectMode(logPath, 0666);
}

TEST_F(ErrorLogTest, HostTextIsNeverReadAsAFormat)
{
    SetLogEnabled(1);
    StartErrorLog("halvex32", "halvex32.log");
    EXPECT_EQ(OutputDebug("100%% done %s %d %n\n"), 0);
    EXPECT_EQ(OutputDebug("no line end"), 0);
    EXPECT_EQ(OutputDebug("next"), 0);
    std::string log = ReadFile(logPath);
    EXPECT_NE(log.find(": 100% done %s %d %n" + std::string(LineEnd)), std::string::npos) << log;
    EXPECT_NE(log.find(": no line endhalvex32: "), std::string::npos) << "a line without its end runs on";
}

TEST_F(ErrorLogTest, LogIsCutToItsTailOnceItExceedsTheLimit)
{
    SetLogEnabled(1);
    StartErrorLog("halvex32", "halvex32.log");
    std::string filler(99, 'x');
    while (ReadFile(logPath).size() <= 100000)
        ErrorLog("%s\n", filler.c_str());
    std::string before = ReadFile(logPath);
    ASSERT_GT(before.size(), 100000u);
    ErrorLog("last line\n");
    std::string after = ReadFile(logPath);
    EXPECT_EQ(after.substr(0, 10000), before.substr(before.size() - 10000));
    EXPECT_NE(after.find("last line" + std::string(LineEnd)), std::string::npos);
    EXPECT_LT(after.size(), 10200u);
    ExpectMode(logPath, 0666);
}

TEST_F(ErrorLogTest, ALogAtTheLimitIsLeftAlone)
{
    {
        std::ofstream out(logPath, std::ios::binary);
        out << std::string(100000, 'y');
    }
    EXPECT_EQ(TrimErrorLog(logPath.c_str(), "halvex32"), 0);
    EXPECT_EQ(ReadFile(logPath).size(), 100000u);
    EXPECT_EQ(TrimErrorLog((directory + "/missing.log").c_str(), "halvex32"), 1);
}

#ifndef _WIN32
TEST_F(ErrorLogTest, APlantedFileCannotRedirectTheCut)
{
    // A link where a fixed temporary name would be: the cut must not write through it.
    std::string victim = directory + "/victim";
    { std::ofstream(victim) << "untouched"; }
    ASSERT_EQ(symlink(victim.c_str(), (directory + "/halvex32").c_str()), 0);
    { std::ofstream(logPath, std::ios::binary) << std::string(100001, 'z'); }
    EXPECT_EQ(TrimErrorLog(logPath.c_str(), "halvex32"), 0);
    EXPECT_EQ(ReadFile(victim), "untouched");
    EXPECT_EQ(ReadFile(logPath), std::string(10000, 'z'));
}
#endif

TEST_F(ErrorLogTest, LongTemporaryDirectoryFallsBackWithoutOverrun)
{
    std::string deep = directory + "/" + std::string(250, 'd');
    SetEnv(TempVariable, deep);
    SetLogEnabled(1);
    std::string longTag(300, 't');
    // The line goes to the fallback directory, cut to the tag's room.
    std::filesystem::create_directories(PLATFORM_FALLBACK_TEMP_DIR);
    std::string fallbackPath = std::string(PLATFORM_FALLBACK_TEMP_DIR) + "halvex32-fallback-test.log";
    StartErrorLog(longTag.c_str(), "halvex32-fallback-test.log");
    std::string fallback = ReadFile(fallbackPath);
    std::remove(fallbackPath.c_str());
    EXPECT_EQ(fallback.substr(0, 96), std::string(95, 't') + ":");
}

} // namespace
