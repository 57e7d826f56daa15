#include "strings.h"

#include <stdlib.h>
#include <string.h>

/* Host records pack to 4 bytes, so on 64-bit targets a BSTR field may be
 * misaligned: it is read and written as bytes. */
static BSTR LoadSlot(const BSTR *slot)
{
    BSTR value;
    memcpy(&value, slot, sizeof value);
    return value;
}

static void StoreSlot(BSTR *slot, BSTR value) { memcpy(slot, &value, sizeof value); }

void BstrFromText(BSTR *slot, const char *text)
{
    size_t length = strlen(text);
    OLECHAR *units = (OLECHAR *)malloc((length + 1) * sizeof(OLECHAR));
    BSTR old = LoadSlot(slot);
    if (old) {
        StoreSlot(slot, NULL);
        SysFreeString(old);
    }
    if (!units)
        return;
    for (size_t i = 0; i < length; i++)
        units[i] = (OLECHAR)(int16_t)(signed char)text[i];
    units[length] = 0;
    StoreSlot(slot, SysAllocString(units));
    free(units);
}

char *TextFromBstr(BSTR b)
{
    if (!b)
        return NULL;
    UINT length = SysStringByteLen(b) / 2;
    char *text = (char *)malloc((size_t)length + 1);
    if (!text)
        return NULL;
    const unsigned char *bytes = (const unsigned char *)b;
    for (UINT i = 0; i < length; i++)
        text[i] = (char)bytes[2 * i]; /* the low byte comes first */
    text[length] = '\0';
    return text;
}

int BytesFromBstr(BSTR b, char **out)
{
    *out = NULL;
    if (!b)
        return 0;
    UINT length = SysStringByteLen(b);
    char *bytes = (char *)malloc((size_t)length + 1);
    if (!bytes)
        return 0;
    memcpy(bytes, b, length);
    bytes[length] = '\0';
    *out = bytes;
    return (int)length;
}
