#include "strings.h"

#include <stdlib.h>
#include <string.h>

void BstrFromText(BSTR *slot, const char *text)
{
    size_t length = strlen(text);
    OLECHAR *units = (OLECHAR *)malloc((length + 1) * sizeof(OLECHAR));
    if (*slot) {
        BSTR old = *slot;
        *slot = NULL;
        SysFreeString(old);
    }
    if (!units)
        return;
    for (size_t i = 0; i < length; i++)
        units[i] = (OLECHAR)(int16_t)(signed char)text[i];
    units[length] = 0;
    *slot = SysAllocString(units);
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
