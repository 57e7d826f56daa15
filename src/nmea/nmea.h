/* NMEA mode: sentences received, handed to the host or its table, and the
 * silence report. */
#ifndef HALVEX_NMEA_H
#define HALVEX_NMEA_H

#include <time.h>

#include "../port/session.h"

enum { SentenceLimit = 521, FirstFieldLimit = 27, SilenceMs = 3000 };

struct FixEpoch;

/* NMEA mode's state, made as the mode takes the line and freed as it
 * leaves. */
struct NmeaState : ModeState {
    int32_t parseState;
    int32_t parseCount;
    unsigned char *sentence; /* the sentence being assembled; null between sentences */
    void *silenceTimer;
    SAFEARRAY **table; /* the host's, or null: sentences go to the callback */
    HalvexNmeaCallback callback;
    FixEpoch *fixEpoch; /* the fix being merged for a position stream, or null */
};

/* NMEA mode's state, or null when NMEA mode does not have the line. */
NmeaState *NmeaOf(const PortSession *session);
/* NMEA mode takes the line (from binary mode, which hands it back, or from
 * itself, starting again) with the host's table or callback. 0 when no
 * memory was left. */
int EnterNmeaMode(PortSession *session, SAFEARRAY **table, HalvexNmeaCallback callback);

/* Feeds bytes read in NMEA mode to the sentence assembler. */
void NmeaReceive(PortSession *session, const unsigned char *bytes, int count);
/* Reports line errors to the host's NMEA callback. */
void NmeaLineError(PortSession *session, DWORD errors);
void NmeaSilenceTimer(void *session);

/* Live position: merges a sentence into the fix epoch under way, handing
 * the epoch to the host's position callback once it is whole. */
void NmeaFixSentence(PortSession *session, const char *text);
/* The epoch under way is dropped: a stream starts or stops. */
void ForgetFixEpoch(PortSession *session);

/* The sentence checksum: the exclusive or of the bytes from after the "$"
 * (or "!") up to end. */
unsigned char NmeaChecksum(const char *sentence, const char *end);

/* The talker (one or two characters) and the first field (at most 27) of a
 * sentence, never read past its end. */
void SplitSentence(const char *text, char talker[3], char firstField[FirstFieldLimit + 1]);
/* The first element of the host's table whose key is firstField, ignoring
 * ASCII case; null when there is none. */
NmeaTableEntry *FindNmeaTableEntry(SAFEARRAY **table, const char *firstField);
/* Local time t as an OLE Automation date; CurrentOleDate is now. */
double OleDateAt(time_t t);
double CurrentOleDate(void);

#endif
