/* Sending text to the receiver: as it stands, or as sentences completed
 * with their checksum and CR LF. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../errlog/errlog.h"
#include "../port/port.h"
#include "../port/portcall.h"
#include "../host/strings.h"
#include "nmea.h"

enum { HostTrue = -1, HostFalse = 0 };

int16_t HALVEX_CALL SendNMEA(PortSession *session, BSTR *text)
{
    PortCall call(session);
    char *bytes = NULL;
    int length = call.Ok() && text ? BytesFromBstr(*text, &bytes) : 0;
    /* The result is the write's own: a failed write whose error reads 0
     * must not read as sent. */
    int sent = length > 0 && WritePort(session, (const unsigned char *)bytes, length);
    if (length <= 0) {
        call.Fail(ERROR_INVALID_PARAMETER); /* nothing to send */
    } else if (!sent) {
        call.Fail(GetLastError());
        ErrorLog("WriteFile() : error %u:\n", (unsigned)GetLastError());
    }
    free(bytes);
    return sent ? HostTrue : HostFalse;
}

/* "$" + body + "*" + two hex digits + CR LF, the checksum the exclusive or
 * of every byte after the "$"; null when no memory was left. */
static char *CompleteSentence(const char *bytes, int length)
{
    char *line = (char *)malloc((size_t)length + 6);
    if (!line)
        return NULL;
    memcpy(line, bytes, (size_t)length);
    snprintf(line + length, 6, "*%02X\r\n", NmeaChecksum(bytes, bytes + length));
    return line;
}

int16_t HALVEX_CALL SendNMEAChk(PortSession *session, SAFEARRAY **sentences)
{
    PortCall call(session);
    SAFEARRAY *array = call.Ok() && sentences ? *sentences : NULL;
    /* The count is read again after each element: the array is the host's. */
    for (ULONG i = 0; array && array->pvData && i < array->rgsabound[0].cElements; i++) {
        char *bytes;
        int length = BytesFromBstr(((BSTR *)array->pvData)[i], &bytes);
        /* The sentence ends at a NUL inside it, on the wire as in the log. */
        length = bytes ? (int)strnlen(bytes, (size_t)length) : 0;
        if (length > 0) { /* a null or empty element makes no line */
            char *line = CompleteSentence(bytes, length);
            if (line) {
                int lineLength = length + 5;
                ErrorLog("%.*s", lineLength, line);
                WritePort(session, (const unsigned char *)line, lineLength);
            }
            free(line);
        }
        free(bytes);
    }
    return call.Ok() ? HostTrue : HostFalse;
}
