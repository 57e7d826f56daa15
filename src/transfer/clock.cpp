/* The receiver's clock: the date-and-time command, answered by one record
 * of the receiver's UTC date and time, which goes to the host beside this
 * computer's clock and the 1024-week periods the receiver trails by. */
#include <string.h>

#include "../engine/enginelock.h"
#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "../host/calendar.h"
#include "../link/fields.h"
#include "../link/link.h"
#include "../link/product.h"
#include "../port/registry.h"
#include "transfer.h"

/* How long the record may take once the receiver took the command. */
enum { ClockAnswerMs = 3000, DateTimeSize = 8, SlotDateTime = 6 };

int DecodeDateTime(const unsigned char *data, int length, double *date)
{
    if (length < DateTimeSize)
        return 0;
    int month = data[0], day = data[1];
    int year = ReadField<uint16_t>(data, length, 2), hour = ReadField<uint16_t>(data, length, 4);
    int minute = data[6], second = data[7];
    /* Receivers count from the GPS epoch; a second of 60 is a leap second. */
    if (year < 1980 || hour > 23 || minute > 59 || second > 60 || !OleDateFromCivil(year, month, day, date))
        return 0;
    *date += (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return 1;
}

/* Whether the receiver says it keeps a clock: A600 in its protocol array,
 * or in the table's row for it. */
static int KeepsClock(const PortSession *session)
{
    const ProtocolCaps *caps = ReceiverCaps(session);
    int slot = caps ? caps->protocolSlots[SlotDateTime] : -1;
    return slot >= 0 && slot % 100 == 0;
}

static void ReportClock(PortSession *session, TransferState *work, int32_t code, HostClock *clock)
{
    uint32_t operation = CurrentOperation(session);
    HalvexTimeCallback callback = work->callback.clock;
    if (callback)
        callback(code, clock);
    EndTransfer(session, operation);
}

static void ClockFailed(PortSession *session, TransferState *work)
{
    HostClock zero;
    memset(&zero, 0, sizeof zero);
    ErrorLog("Date and time not received\n");
    ReportClock(session, work, HalvexClockFailed, &zero);
}

static void ClockSilent(void *context)
{
    PortSession *session = (PortSession *)context;
    TransferState *work = RunningTransfer(session); /* a timer is no step: it looks its record up */
    work->stallTimer = NULL;
    ErrorLog("No date and time within %d ms\n", ClockAnswerMs);
    SetHalvexError(ERROR_TIMEOUT);
    ClockFailed(session, work);
}

static void TakeDateTime(PortSession *session, TransferState *work, const unsigned char *data, int length)
{
    /* The record shows that the command arrived, even if its ACK was lost. */
    if (AwaitingAck(session))
        SettlePendingFrame(session);
    HostClock clock;
    memset(&clock, 0, sizeof clock);
    double said;
    if (!DecodeDateTime(data, length, &said)) {
        ErrorLog("Date and time record is no date (%d bytes)\n", length);
        SetHalvexError(ERROR_INVALID_DATA);
        ClockFailed(session, work);
        return;
    }
    clock.receiverTime = said; /* a packed record's double is set, never pointed to */
    clock.hostTime = HostUtcDate();
    clock.weeksBehind = RolloverWeeksBehind(clock.receiverTime, RolloverReference(clock.hostTime));
    ErrorLog("Date and time received, %d weeks behind\n", clock.weeksBehind);
    SetHalvexError(ERROR_SUCCESS);
    ReportClock(session, work, HalvexClockRead, &clock);
}

static void ClockStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length)
{
    switch (code) {
    case DispatchAcked:
        /* Without the time-out the wait for the answer could last without end. */
        if (!ArmTimer(&work->stallTimer, session, ClockAnswerMs, ClockSilent)) {
            SetHalvexError(ERROR_NOT_ENOUGH_MEMORY);
            ClockFailed(session, work);
        }
        break;
    case DispatchAborted:
        ClockFailed(session, work);
        break;
    case PacketDateTime + DispatchPacket:
        DisarmTimer(&work->stallTimer);
        TakeDateTime(session, work, data, length);
        break;
    default:
        break; /* NAKs and time-outs are the link's to retry */
    }
}

static int PrepareClock(PortSession *, const TransferRequest *, TransferRecords *, uint16_t *word)
{
    *word = CommandTransferTime;
    return 1;
}

static void FreeNothing(TransferRecords *) {}

static const TransferKind ClockRequests = {ObjectiveClock, {ClockStep, ReleaseTransfer}, PacketCommand, PrepareClock,
                                           FreeNothing, 0};

int32_t HALVEX_CALL HalvexGetTimeInit(PortSession *session, HalvexTimeCallback *callback)
{
    PortCall call(session);
    if (ReadyForTransfer(session) == ERROR_SUCCESS && !KeepsClock(session))
        return call.Fail(ERROR_NOT_SUPPORTED);
    return StartTransfer(call, session, &ClockRequests, CallbackOf(callback, &TransferCallback::clock), NULL);
}
