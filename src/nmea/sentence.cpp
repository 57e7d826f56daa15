/* What a sentence is made of, where it goes, and when it came. */
#include <stdlib.h>
#include <string.h>

#include "../platform/platform.h"
#include "../host/strings.h"
#include "nmea.h"

void SplitSentence(const char *text, char talker[3], char firstField[FirstFieldLimit + 1])
{
    size_t length = strlen(text);
    size_t at = length > 0 ? 1 : 0; /* past the "$" */
    /* A proprietary sentence has the talker P and its field right after. */
    size_t talkerLength = at < length && (text[at] == 'P' || text[at] == 'p') ? 1 : 2;
    size_t n = 0;
    for (; n < talkerLength && at + n < length; n++)
        talker[n] = text[at + n];
    talker[n] = '\0';
    const char *field = text + at + n;
    const char *comma = strchr(field, ',');
    n = comma ? (size_t)(comma - field) : 0;
    if (n > FirstFieldLimit)
        n = FirstFieldLimit;
    memcpy(firstField, field, n);
    firstField[n] = '\0';
}

static int SameIgnoringAsciiCase(const char *a, const char *b)
{
    for (; *a && *b; a++, b++) {
        char x = *a >= 'a' && *a <= 'z' ? (char)(*a - 32) : *a;
        char y = *b >= 'a' && *b <= 'z' ? (char)(*b - 32) : *b;
        if (x != y)
            return 0;
    }
    return *a == *b;
}

NmeaTableEntry *FindNmeaTableEntry(SAFEARRAY **handle, const char *firstField)
{
    SAFEARRAY *table = handle ? *handle : NULL;
    if (!table || !table->pvData)
        return NULL;
    NmeaTableEntry *entries = (NmeaTableEntry *)table->pvData;
    /* The count is read again each time: the table is the host's. */
    for (ULONG i = 0; i < table->rgsabound[0].cElements; i++) {
        if (!entries[i].sentenceId)
            continue;
        char *key = TextFromBstr(entries[i].sentenceId);
        int found = key && SameIgnoringAsciiCase(key, firstField);
        free(key);
        if (found)
            return &entries[i];
    }
    return NULL;
}

unsigned char NmeaChecksum(const char *sentence, const char *end)
{
    unsigned char checksum = 0;
    for (const char *c = sentence + 1; c < end; c++)
        checksum ^= (unsigned char)*c;
    return checksum;
}

double OleDateAt(time_t t)
{
    long minutesWest;
    int daylight;
    PlatformTimeZone(t, &minutesWest, &daylight);
    return 25569.0 + (double)((int64_t)t - 60 * (int64_t)minutesWest + 3600 * daylight) / 86400.0;
}

double CurrentOleDate(void) { return OleDateAt(time(NULL)); }
