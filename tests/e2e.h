// End-to-end fixture: the library's engine running as in a loaded library,
// with its log on in a directory of the test's own, and a simulated receiver
// on the master side of a pseudo-terminal whose slave the library opens.
#ifndef HALVEX_TEST_E2E_H
#define HALVEX_TEST_E2E_H

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "engine/dispatch.h"
#include "engine/entry.h"
#include "errlog/errlog.h"
#include "halvex32.h"
#include "pty.h"
#include "options.h"

class EndToEnd : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override
    {
        char pattern[] = "/tmp/halvex-e2e-XXXXXX";
        directory = mkdtemp(pattern);
        setenv("TMPDIR", directory.c_str(), 1);
        SetLogEnabled(1);
        ProcessAttach();
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!DispatcherReady() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void TearDown() override
    {
        ProcessDetach();
        if (receiver)
            receiver->Stop();
        SetLogEnabled(0);
        unsetenv("TMPDIR");
        if (!getenv("HALVEX_TEST_KEEP_LOG")) // set it to read a failed test's log
            std::system(("rm -rf " + directory).c_str());
    }
    // Starts the simulated receiver and opens the port to it.
    PortSession *Connect(halvexsim::Config config, int baud = 9600)
    {
        line = std::make_unique<Pty>();
        receiver = std::make_unique<halvexsim::Receiver>(std::move(config));
        receiver->Start(dup(line->master()));
        line->CloseMaster();
        return OpenCommPort(line->path(), baud);
    }
    std::string Log()
    {
        std::ifstream in(directory + "/halvex32.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    int CountInLog(const std::string &line)
    {
        std::string log = Log();
        int count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            count++;
        return count;
    }
    bool LogShows(const std::string &line, int milliseconds = 2000)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (Log().find(line) == std::string::npos) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
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
    std::unique_ptr<Pty> line; // the receiver's end is the simulator's
    std::unique_ptr<halvexsim::Receiver> receiver;
};

#endif
