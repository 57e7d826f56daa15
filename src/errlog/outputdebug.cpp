#include <stdlib.h>
#include <string.h>

#include "errlog.h"
#include "halvex32.h"

/* The host's text is a message, not a format: a doubled percent sign still
 * writes one, as printf would, and any other directive is kept as it stands
 * instead of reading arguments that were never passed. */
int32_t HALVEX_CALL OutputDebug(const char *text)
{
    if (!text || !LogEnabled())
        return 0;
    char *message = (char *)malloc(strlen(text) + 1);
    if (!message)
        return -1;
    char *out = message;
    for (const char *in = text; *in; in++) {
        *out++ = *in;
        if (in[0] == '%' && in[1] == '%')
            in++;
    }
    *out = '\0';
    int32_t result = WriteLogLine(message);
    free(message);
    return result;
}
