/* NMEA mode: assembling sentences, handing them over, the silence report. */
#include <stdlib.h>
#include <string.h>

#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../port/port.h"
#include "../port/portcall.h"
#include "../port/position.h"
#include "../port/registry.h"
#include "../host/strings.h"
#include "nmea.h"

static void DispatchNmeaSentence(PortSession *session, const char *text);

enum AssemblerState { WaitingForDollar = 0, InSentence = 1, AfterCr = 2 };

static void NmeaLeave(PortSession *session);

/* Sentences come whether or not a stream runs: a stream that starts or stops
 * only drops the epoch under way. */
static DWORD NmeaReports(PortSession *session, int)
{
    ForgetFixEpoch(session);
    return ERROR_SUCCESS;
}

static const ModeHooks NmeaMode = {NmeaReceive, NmeaLineError, NULL, NmeaLeave, NmeaReports};

NmeaState *NmeaOf(const PortSession *session)
{
    ModeState *mode = session->mode;
    return mode && mode->hooks == &NmeaMode ? static_cast<NmeaState *>(mode) : NULL;
}

static void DropSentence(NmeaState *nmea)
{
    free(nmea->sentence);
    nmea->sentence = NULL;
    nmea->parseState = WaitingForDollar;
}

static int16_t CallNmeaCallback(PortSession *session, int32_t code, int32_t value, BSTR *text)
{
    HalvexNmeaCallback callback = NmeaOf(session)->callback;
    return callback ? callback(code, value, text) : 0;
}

/* Starts a sentence at its "$": whatever came before it is no part of it. */
static void StartSentence(NmeaState *nmea)
{
    if (!nmea->sentence)
        nmea->sentence = (unsigned char *)malloc(SentenceLimit + 1);
    if (!nmea->sentence) {
        nmea->parseState = WaitingForDollar;
        return;
    }
    nmea->sentence[0] = '$';
    nmea->parseCount = 1;
    nmea->parseState = InSentence;
}

/* The sentence under way, ended: the caller's from then on. */
static unsigned char *EndSentence(NmeaState *nmea)
{
    unsigned char *sentence = nmea->sentence;
    sentence[nmea->parseCount] = '\0';
    nmea->sentence = NULL;
    nmea->parseState = WaitingForDollar;
    return sentence;
}

/* Takes one byte; a sentence that ends is handed over, with whether it
 * ended whole. A line ends at LF, with or without a CR before it (many
 * talkers send LF alone); a CR followed by anything else cuts the sentence
 * short. "$" never appears inside a sentence: one there starts the next,
 * the line before it having lost its end. */
static unsigned char *TakeByte(NmeaState *nmea, unsigned char byte, int *whole)
{
    unsigned char *ended = NULL;
    *whole = 0;
    if (nmea->parseState == AfterCr) {
        ended = EndSentence(nmea);
        *whole = byte == '\n';
        if (*whole)
            return ended;
    }
    if (byte == '$') {
        StartSentence(nmea);
        return ended;
    }
    if (nmea->parseState != InSentence)
        return ended;
    if (byte == '\n') {
        *whole = 1;
        return EndSentence(nmea);
    }
    if (byte == '\r')
        nmea->parseState = AfterCr;
    else if (nmea->parseCount >= SentenceLimit)
        DropSentence(nmea); /* longer than any sentence: wait for the next "$" */
    else
        nmea->sentence[nmea->parseCount++] = byte;
    return ended;
}

void NmeaReceive(PortSession *session, const unsigned char *bytes, int count)
{
    for (int i = 0; i < count; i++) {
        int whole = 0;
        unsigned char *sentence = TakeByte(NmeaOf(session), bytes[i], &whole);
        if (!sentence)
            continue;
        /* The sentence is ours, whatever the host does from its callback. */
        uint32_t operation = CurrentOperation(session);
        if (whole) {
            CountLine(session, &HostLineCounts::sentences, 1);
            DispatchNmeaSentence(session, (const char *)sentence);
        }
        free(sentence);
        if (!OperationContinues(session, operation))
            return;
    }
}

/* A silence report not armed is only a report missed: NMEA mode goes on, and
 * the next sentence arms it again. */
static void ArmSilenceTimer(PortSession *session)
{
    if (!ArmTimer(&NmeaOf(session)->silenceTimer, session, SilenceMs, NmeaSilenceTimer))
        ErrorLog("No memory for the silence timer\n");
}

static void DispatchNmeaSentence(PortSession *session, const char *text)
{
    ErrorLog("%s\n", text);
    uint32_t operation = CurrentOperation(session);
    NmeaState *nmea = NmeaOf(session);
    DisarmTimer(&nmea->silenceTimer);
    char talker[3], firstField[FirstFieldLimit + 1];
    SplitSentence(text, talker, firstField);
    if (nmea->table) {
        NmeaTableEntry *entry = FindNmeaTableEntry(nmea->table, firstField);
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
    ArmSilenceTimer(session);
    if (PositionStreamRuns(session))
        NmeaFixSentence(session, text);
}

void NmeaSilenceTimer(void *context)
{
    PortSession *session = (PortSession *)context;
    NmeaState *nmea = NmeaOf(session);
    nmea->silenceTimer = NULL;
    PurgePort(session);
    if (!nmea->callback)
        return;
    BSTR none = NULL;
    uint32_t operation = CurrentOperation(session);
    int16_t again = CallNmeaCallback(session, HalvexNmeaSilence, 0, &none);
    if (again && OperationContinues(session, operation))
        ArmSilenceTimer(session);
}

void NmeaLineError(PortSession *session, DWORD errors)
{
    BSTR none = NULL;
    CallNmeaCallback(session, HalvexNmeaLineError, (int32_t)errors, &none);
}

/* The silence timer must not fire into another mode, or into this one
 * started again. */
static void NmeaLeave(PortSession *session)
{
    NmeaState *nmea = NmeaOf(session);
    DisarmTimer(&nmea->silenceTimer);
    free(nmea->sentence); /* a partial sentence is discarded */
    free(nmea->fixEpoch);
    free(nmea);
}

int EnterNmeaMode(PortSession *session, SAFEARRAY **table, HalvexNmeaCallback callback)
{
    NmeaState *nmea = (NmeaState *)calloc(1, sizeof *nmea);
    if (!nmea)
        return 0;
    nmea->hooks = &NmeaMode;
    nmea->table = table;
    nmea->callback = callback;
    /* Armed before the mode changes, so that the line stays as it was when
     * it cannot be; it cannot fire before this export lets the engine go. */
    if (!ArmTimer(&nmea->silenceTimer, session, SilenceMs, NmeaSilenceTimer)) {
        free(nmea);
        return 0;
    }
    EnterMode(session, nmea); /* binary mode hands the line back */
    return 1;
}

int32_t HALVEX_CALL StartNMEA(PortSession *session, SAFEARRAY **table, HalvexNmeaCallback *callback)
{
    PortCall call(session);
    if (call.Ok() && !EnterNmeaMode(session, table, callback ? *callback : NULL))
        return call.Fail(ERROR_NOT_ENOUGH_MEMORY);
    call.wake = call.Ok();
    return call.Ok();
}

void HALVEX_CALL StopNMEA(PortSession *session)
{
    PortCall call(session);
    if (call.Ok() && NmeaOf(session)) {
        LeaveMode(session);
        call.wake = true;
    }
}
