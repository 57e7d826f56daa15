// The library's engine running as in a loaded library, with its log on in a
// directory of the test's own, and ways to wait for what it does.
#ifndef HALVEX_TEST_ENGINE_FIXTURE_H
#define HALVEX_TEST_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/dispatch.h"
#include "engine/entry.h"
#include "errlog/errlog.h"
#include "log_file.h"
#include "portable.h"

class EngineRunning : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override
    {
        directory = MakeTestDirectory("engine");
        SetEnv(TempVariable, directory);
        SetLogEnabled(1);
        ProcessAttach();
        EnsureDispatcher();
    }
    void TearDown() override
    {
        ProcessDetach();
        SetLogEnabled(0);
        UnsetEnv(TempVariable);
        if (!getenv("HALVEX_TEST_KEEP_LOG")) // set it to read a failed test's log
            RemoveTree(directory);
    }
    std::string Log() { return ReadLog(directory); }
    int CountInLog(const std::string &line) { return Occurrences(Log(), line); }
    bool LogShows(const std::string &line, int milliseconds = 2000)
    {
        return WaitUntil([&] { return Log().find(line) != std::string::npos; }, milliseconds);
    }
    template <typename Predicate> static bool WaitUntil(Predicate done, int milliseconds)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done()) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    std::string directory;
};

#endif
