#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <sys/stat.h>

#include "../platform.h"

void PlatformLocalTime(time_t t, struct tm *out) { localtime_s(out, &t); }

void PlatformUtcTime(time_t t, struct tm *out) { gmtime_s(out, &t); }

void PlatformTimeZone(time_t t, long *minutesWest, int *daylight)
{
    (void)t;
    TIME_ZONE_INFORMATION zone;
    *daylight = GetTimeZoneInformation(&zone) == TIME_ZONE_ID_DAYLIGHT;
    *minutesWest = zone.Bias;
}

FILE *PlatformCreateFreshFile(char *pathTemplate)
{
    size_t length = strlen(pathTemplate);
    if (length < 6)
        return NULL;
    char *suffix = pathTemplate + length - 6;
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        unsigned value = GetTickCount() * 2654435761u + attempt * 40503u + GetCurrentThreadId();
        for (int i = 0; i < 6; i++, value /= 26)
            suffix[i] = (char)('a' + value % 26);
        int fd = _open(pathTemplate, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            FILE *file = _fdopen(fd, "wb");
            if (!file) {
                _close(fd);
                remove(pathTemplate);
            }
            return file;
        }
        if (errno != EEXIST)
            return NULL;
    }
    return NULL;
}

FILE *PlatformOpenLog(const char *path, const char *mode)
{
    /* Lines are appended as text; the cut reads and copies them as bytes. */
    FILE *file = fopen(path, mode);
    struct _stat status;
    if (file && (_fstat(_fileno(file), &status) != 0 || !(status.st_mode & _S_IFREG))) {
        fclose(file);
        return NULL;
    }
    return file;
}

int PlatformFileModeOf(FILE *file)
{
    struct _stat status;
    return _fstat(_fileno(file), &status) == 0 ? (int)(status.st_mode & 0777) : -1;
}

/* Windows keeps only a read-only flag, and a file open for writing is not
 * read-only: nothing to set. */
int PlatformSetFileModeOf(FILE *file, int mode)
{
    (void)file;
    (void)mode;
    return 0;
}

void PlatformEndThread(HANDLE thread)
{
    /* Process detach holds the loader lock, which an ending thread needs, so
     * the thread cannot finish while we wait: give it a bounded moment, then
     * end it where it stands. */
    if (WaitForSingleObjectEx(thread, 100, FALSE) != WAIT_OBJECT_0)
        TerminateThread(thread, 0);
    CloseHandle(thread);
}
