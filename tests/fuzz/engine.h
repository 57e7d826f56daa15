// The engine's lock, log and timers, made once for all the inputs of a run.
#ifndef HALVEX_FUZZ_ENGINE_H
#define HALVEX_FUZZ_ENGINE_H

#include "engine/enginelock.h"
#include "engine/timerqueue.h"
#include "errlog/errlog.h"

inline void StartEngineOnce()
{
    static bool ready = [] {
        InitEngineLock();
        InitErrorLog();
        InitTimerQueue();
        return true;
    }();
    (void)ready;
}

#endif
