/* Fields of packet data. They are little-endian, like every machine the
 * library is built for, so a field's bytes are its value's bytes. */
#ifndef HALVEX_FIELDS_H
#define HALVEX_FIELDS_H

#include <string.h>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "packet fields are read and written in the machine's byte order"
#endif

/* The field at offset at of length bytes of data; zero when it would end
 * past them. */
template <typename T> T ReadField(const unsigned char *data, int length, int at)
{
    T value = T();
    if (at >= 0 && at <= length - (int)sizeof value)
        memcpy(&value, data + at, sizeof value);
    return value;
}

template <typename T> void WriteField(unsigned char *data, T value) { memcpy(data, &value, sizeof value); }

#endif
