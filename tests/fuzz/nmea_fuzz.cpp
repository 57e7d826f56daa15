// libFuzzer: arbitrary bytes into the NMEA sentence assembler, with a table
// of keys, so that splitting, lookup and dispatch all run.
#include <cstdint>
#include <cstdlib>

#include "engine.h"
#include "nmea/nmea.h"
#include "port/port.h"
#include "port/registry.h"

static int16_t HALVEX_CALL Ignore(int32_t, int32_t, BSTR *) { return 1; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    StartEngineOnce();
    if (size == 0)
        return 0;
    static const OLECHAR *const keys[] = {u"GGA", u"rmc", u"", u"XYZ"};
    SAFEARRAY *table = nullptr;
    SafeArrayAllocDescriptor(1, &table);
    table->cbElements = sizeof(NmeaTableEntry);
    table->rgsabound[0].cElements = 4;
    SafeArrayAllocData(table);
    auto *entries = static_cast<NmeaTableEntry *>(table->pvData);
    for (int i = 0; i < 4; i++)
        entries[i].sentenceId = SysAllocString(keys[i]);

    PortSession *session = static_cast<PortSession *>(calloc(1, sizeof(PortSession)));
    session->portHandle = INVALID_HANDLE_VALUE;
    AddLiveSession(session);
    EnterNmeaMode(session, data[0] & 1 ? &table : nullptr, Ignore);
    NmeaReceive(session, data + 1, static_cast<int>(size - 1));
    ClosePortSession(session);
    ReleaseClosedSessions();

    for (int i = 0; i < 4; i++) {
        SysFreeString(entries[i].sentenceId);
        SysFreeString(entries[i].talker);
        SysFreeString(entries[i].sentence);
    }
    SafeArrayDestroyData(table);
    SafeArrayDestroyDescriptor(table);
    return 0;
}
