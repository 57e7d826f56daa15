/* NMEA mode: assembling sentences, handing them over, the silence report. */
#include <stdlib.h>
#include <string.h>

#include "../engine/dispatch.h"
#include "../engine/enginelock.h"
#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "../port/registry.h"
#include "../host/strings.h"
#include "nmea.h"

enum AssemblerState { WaitingForDollar = 0, InSentence = 1, AfterCr = 2 };

static void DropSentence(PortSession *session)
{
    free(session->frameBuffer);
    session->frameBuffer = NULL;
    session->parseState = WaitingForDollar;
}

static int16_t CallNmeaCallback(PortSession *session, int32_t code, int32_t value, BSTR *text)
{
    HalvexNmeaCallback callback = (HalvexNmeaCallback)session->hostCallback;
    return callback ? callback(code, value, text) : 0;
}

void NmeaReceive(PortSession *session, const unsigned char *bytes, int count)
{
    for (int i = 0; i < count; i++) {
        unsigned char byte = bytes[i];
        switch (session->parseState) {
        case WaitingForDollar:
            if (byte != '$')
                break;
            if (!session->frameBuffer)
                session->frameBuffer = (unsigned char *)malloc(SentenceLimit + 1);
            if (!session->frameBuffer)
                break;
            session->frameBuffer[0] = '$';
            session->parseCount = 1;
            session->parseState = InSentence;
            break;
        case InSentence:
            if (byte == '\r') {
                session->frameBuffer[session->parseCount++] = '\0';
                session->parseState = AfterCr;
            } else if (session->parseCount >= SentenceLimit) {
                DropSentence(session); /* longer than any sentence: wait for the next "$" */
            } else {
                session->frameBuffer[session->parseCount++] = byte;
            }
            break;
        case AfterCr: {
            /* The sentence is ours from here on, whatever the host does
             * from its callback. */
            unsigned char *sentence = session->frameBuffer;
            session->frameBuffer = NULL;
            session->parseState = WaitingForDollar;
            uint32_t operation = session->operation;
            if (byte == '\n')
                DispatchNmeaSentence(session, (const char *)sentence);
            free(sentence);
            if (!OperationContinues(session, operation))
                return;
            break;
        }
        }
    }
}

static void ArmSilenceTimer(PortSession *session, int32_t milliseconds)
{
    ArmTimer(&session->modeTimer, session, milliseconds, NmeaSilenceTimer);
}

void DispatchNmeaSentence(PortSession *session, const char *text)
{
    ErrorLog("%s\n", text);
    uint32_t operation = session->operation;
    DisarmTimer(&session->modeTimer);
    char talker[3], firstField[FirstFieldLimit + 1];
    SplitSentence(text, talker, firstField);
    if (session->nmeaTable) {
        NmeaTableEntry *entry = FindNmeaTableEntry(session, firstField);
        if (entry) {
            BstrFromText(&entry->sentence, text);
            BstrFromText(&entry->talker, talker);
            entry->timeStamp = CurrentOleDate();
        }
    } else {
        BSTR sentence = NULL;
        BstrFromText(&sentence, text);
        CallNmeaCallback(session, HalvexNmeaSentence, 0, &sentence);
        SysFreeString(sentence);
    }
    if (!OperationContinues(session, operation))
        return;
    ArmSilenceTimer(session, session->nmeaTimeout);
    if (session->positionCallback)
        NmeaFixSentence(session, text);
}

void NmeaSilenceTimer(void *context)
{
    PortSession *session = (PortSession *)context;
    session->modeTimer = NULL;
    PurgeComm(session->portHandle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (!session->hostCallback)
        return;
    BSTR none = NULL;
    uint32_t operation = session->operation;
    int16_t again = CallNmeaCallback(session, HalvexNmeaSilence, 0, &none);
    if (again && OperationContinues(session, operation))
        ArmSilenceTimer(session, SilenceMs);
}

void NmeaLineError(PortSession *session, DWORD errors)
{
    BSTR none = NULL;
    CallNmeaCallback(session, HalvexNmeaLineError, (int32_t)errors, &none);
}

static const ModeHooks NmeaMode = {NmeaReceive, NmeaLineError, NULL, NULL};

int32_t HALVEX_CALL StartNMEA(PortSession *session, SAFEARRAY **table, HalvexNmeaCallback *callback)
{
    LockEngine();
    int started = IsLiveSession(session);
    if (started) {
        if (session->mode && session->mode->stop)
            session->mode->stop(session); /* binary mode hands the line back */
        BeginOperation(session);
        /* A timer of an earlier mode, or of an earlier start, must not fire
         * into this one. */
        DisarmTimer(&session->modeTimer);
        free(session->frameBuffer);
        session->frameBuffer = NULL;
        session->nmeaTable = table;
        ForgetFixEpoch(session);
        session->parseState = WaitingForDollar;
        session->objective = ObjectiveNmea;
        session->mode = &NmeaMode;
        session->nmeaTimeout = SilenceMs;
        session->hostCallback = callback ? (void *)*callback : NULL;
        ArmSilenceTimer(session, SilenceMs);
    }
    UnlockEngine();
    if (started)
        WakeDispatcher();
    return ExportResult(started, started ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

void HALVEX_CALL StopNMEA(PortSession *session)
{
    LockEngine();
    int live = IsLiveSession(session);
    int stopped = live && session->objective == ObjectiveNmea;
    if (stopped) {
        BeginOperation(session);
        session->objective = ObjectiveNone;
        session->mode = NULL;
        DisarmTimer(&session->modeTimer);
        free(session->frameBuffer);
        session->frameBuffer = NULL;
        session->parseState = WaitingForDollar;
    }
    UnlockEngine();
    if (stopped)
        WakeDispatcher();
    SetHalvexError(live ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}
