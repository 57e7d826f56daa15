#include <stdlib.h>
#include <string.h>

#include "halvex32.h"

/* The byte count lives in the 4 bytes before the text; two zero bytes end it. */
static BSTR AllocateBstr(const void *bytes, uint32_t length)
{
    if (length > 0x7FFFFFF0u)
        return NULL;
    unsigned char *block = (unsigned char *)malloc(sizeof(uint32_t) + length + sizeof(OLECHAR));
    if (!block)
        return NULL;
    memcpy(block, &length, sizeof length);
    unsigned char *text = block + sizeof(uint32_t);
    if (bytes)
        memcpy(text, bytes, length);
    else
        memset(text, 0, length);
    text[length] = 0;
    text[length + 1] = 0;
    return (BSTR)text;
}

BSTR SysAllocString(const OLECHAR *text)
{
    if (!text)
        return NULL;
    uint32_t units = 0;
    while (text[units])
        units++;
    return SysAllocStringLen(text, units);
}

BSTR SysAllocStringLen(const OLECHAR *text, UINT units)
{
    if (units > 0x7FFFFFF0u / sizeof(OLECHAR))
        return NULL;
    return AllocateBstr(text, (uint32_t)(units * sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char *bytes, UINT length) { return AllocateBstr(bytes, length); }

void SysFreeString(BSTR text)
{
    if (text)
        free((unsigned char *)text - sizeof(uint32_t));
}

UINT SysStringByteLen(BSTR text)
{
    if (!text)
        return 0;
    uint32_t length;
    memcpy(&length, (unsigned char *)text - sizeof(uint32_t), sizeof length);
    return length;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }
