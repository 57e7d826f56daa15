#include <stdlib.h>
#include <string.h>

#include "errlog.h"
#include "lasterror.h"
#include "halvex32.h"

/* The host's text is a message, not a format: a doubled percent sign still
 * writes one, as printf would, and any other directive is kept as it stands
 * instead of reading arguments that were never passed. */
int32_t HALVEX_CALL OutputDebug(const char *text)
{
    if (!text)
        return ExportResult(0, ERROR_INVALID_PARAMETER);
    if (!LogEnabled())
        return ExportResult(0, ERROR_SUCCESS);
    char *message = (char *)malloc(strlen(text) + 1);
    if (!message)
        return ExportResult(-1, ERROR_NOT_ENOUGH_MEMORY);
    char *out = message;
    for (const char *in = text; *in; in++) {
        *out++ = *in;
        if (in[0] == '%' && in[1] == '%')
            in++;
    }
    *out = '\0';
    int32_t result = WriteLogLine(message);
    free(message);
    return ExportResult(result, result == 0 ? ERROR_SUCCESS : ERROR_OPEN_FAILED);
}
