#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../platform.h"

DWORD GetTempPathA(DWORD size, LPSTR buffer)
{
    const char *directory = getenv("TMPDIR");
    if (!directory || !*directory)
        directory = "/tmp";
    size_t length = strlen(directory);
    int addSlash = directory[length - 1] != '/';
    DWORD needed = (DWORD)(length + addSlash);
    if (size <= needed)
        return needed + 1; /* the room the path and its NUL would take */
    memcpy(buffer, directory, length);
    if (addSlash)
        buffer[length] = '/';
    buffer[needed] = '\0';
    return needed;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    /* rename() replaces the target in one step, which is the only way the
     * library moves files. */
    (void)flags;
    if (rename(from, to) == 0)
        return TRUE;
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return FALSE;
}

/* Copies text into a Win32 string result: its length, or the room it would
 * take (its NUL included) when it does not fit. */
static DWORD StringResult(const char *text, size_t length, LPSTR buffer, DWORD size)
{
    if (length >= size)
        return (DWORD)length + 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return (DWORD)length;
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    const char *value = getenv(name);
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return StringResult(value, strlen(value), buffer, size);
}

DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR *filePart)
{
    if (filePart)
        *filePart = NULL;
    if (path[0] == '/')
        return StringResult(path, strlen(path), buffer, size);
    char directory[4096];
    if (!getcwd(directory, sizeof directory)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    char full[sizeof directory + 256];
    int length = snprintf(full, sizeof full, "%s/%s", directory, path);
    if (length < 0 || (size_t)length >= sizeof full) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    return StringResult(full, (size_t)length, buffer, size);
}

void PlatformLocalTime(time_t t, struct tm *out) { localtime_r(&t, out); }

void PlatformUtcTime(time_t t, struct tm *out) { gmtime_r(&t, out); }

void PlatformTimeZone(time_t t, long *minutesWest, int *daylight)
{
    struct tm local;
    localtime_r(&t, &local); /* also reads TZ, setting timezone */
    *minutesWest = timezone / 60;
    *daylight = local.tm_isdst > 0;
}

FILE *PlatformCreateFreshFile(char *pathTemplate)
{
    int fd = mkstemp(pathTemplate);
    if (fd < 0)
        return NULL;
    FILE *file = fdopen(fd, "w");
    if (!file) {
        close(fd);
        unlink(pathTemplate);
    }
    return file;
}

FILE *PlatformOpenLog(const char *path, const char *mode)
{
    int access = mode[0] == 'a' ? O_WRONLY | O_APPEND | O_CREAT : O_RDONLY;
    /* O_NONBLOCK: a FIFO planted under the name must not hold us up. */
    int fd = open(path, access | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return NULL;
    struct stat status;
    FILE *file = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? fdopen(fd, mode) : NULL;
    if (!file)
        close(fd);
    return file;
}

int PlatformFileModeOf(FILE *file)
{
    struct stat status;
    return fstat(fileno(file), &status) == 0 ? (int)(status.st_mode & 07777) : -1;
}

int PlatformSetFileModeOf(FILE *file, int mode) { return fchmod(fileno(file), (mode_t)mode); }
