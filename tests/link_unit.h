// A session with no port behind it, for feeding the link layer directly;
// the log goes to a directory of the test's own.
#ifndef HALVEX_TEST_LINK_UNIT_H
#define HALVEX_TEST_LINK_UNIT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/enginelock.h"
#include "engine/timerqueue.h"
#include "errlog/errlog.h"
#include "link/link.h"
#include "link/state.h"
#include "log_file.h"
#include "portable.h"
#include "port/port.h"
#include "port/registry.h"

class LinkUnit : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = MakeTestDirectory("link");
        SetEnv(TempVariable, directory);
        InitEngineLock();
        InitErrorLog();
        InitTimerQueue();
        SetLogEnabled(1);
        StartErrorLog("halvex32", "halvex32.log");
        session = static_cast<PortSession *>(calloc(1, sizeof(PortSession)));
        session->portHandle = INVALID_HANDLE_VALUE;
        PrepareLinkPort(session); /* binary mode has the line (there is none) */
        Link()->objective = ObjectiveReady;
        AddLiveSession(session);
    }
    void TearDown() override
    {
        ClosePortSession(session);
        ReleaseClosedSessions();
        SetLogEnabled(0);
        DeleteTimerQueue();
        DeleteErrorLog();
        DeleteEngineLock();
        UnsetEnv(TempVariable);
        RemoveTree(directory);
    }
    LinkState *Link() { return LinkOf(session); }
    std::string Log() { return ReadLog(directory); }
    int Count(const std::string &line) { return Occurrences(Log(), line); }
    void Feed(const std::vector<unsigned char> &bytes)
    {
        LinkReceive(session, bytes.data(), static_cast<int>(bytes.size()));
    }

    std::string directory;
    PortSession *session = nullptr;
};

#endif
