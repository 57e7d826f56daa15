/* Host strings (BSTRs of 16-bit units) and the library's byte strings: what
 * identification, NMEA mode and the transfers all hand to and take from the
 * host. */
#ifndef HALVEX_STRINGS_H
#define HALVEX_STRINGS_H

#include "../platform/platform.h"

/* Replaces the BSTR in slot by one made from text, each byte widened as a
 * signed character; the slot is left null when no memory was left. */
void BstrFromText(BSTR *slot, const char *text);
/* A new byte string of the low bytes of b's units, or null for a null b or
 * when no memory was left; the caller frees it. */
char *TextFromBstr(BSTR b);
/* A new NUL-terminated copy of b's raw bytes in *out, and their number; a
 * null b, or no memory, gives 0 and a null *out. */
int BytesFromBstr(BSTR b, char **out);

#endif
