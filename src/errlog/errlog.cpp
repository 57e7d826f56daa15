#include "errlog.h"

#include <atomic>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "../platform/platform.h"
#include "lasterror.h"

#ifdef HALVEX_LOG
static std::atomic<int> logEnabled{1};
#else
static std::atomic<int> logEnabled{0};
#endif

enum { TagSize = 96, PathSize = 256, CutAbove = 100000, KeepBytes = 10000, CopyBlock = 512 };

static char logTag[TagSize];
static char logPath[PathSize];
/* The file HALVEX32_LOG names, made absolute at load; empty for the log's
 * usual place in the temporary directory. */
static char chosenPath[PathSize];
/* One writer at a time, and no line while the log is being cut. */
static CRITICAL_SECTION logLock;

/* HALVEX32_LOG switches the log on as the library loads, so that a user can
 * send a log without a rebuild: "1" for the usual file, anything else but
 * "0" names the file. A path too long to keep falls back to the usual file. */
static void ReadLogVariable(void)
{
    char value[PathSize];
    DWORD length = GetEnvironmentVariableA(LogVariable, value, sizeof value);
    if (length == 0 || strcmp(value, "0") == 0)
        return;
    logEnabled.store(1);
    if (length >= sizeof value || strcmp(value, "1") == 0)
        return;
    DWORD full = GetFullPathNameA(value, sizeof chosenPath, chosenPath, NULL);
    if (full == 0 || full >= sizeof chosenPath)
        chosenPath[0] = '\0';
}

void InitErrorLog(void)
{
    InitializeCriticalSection(&logLock);
    InitLastError();
    ReadLogVariable();
}

void DeleteErrorLog(void)
{
    DeleteLastError();
    DeleteCriticalSection(&logLock);
}

void SetLogEnabled(int enabled) { logEnabled.store(enabled ? 1 : 0); }

int LogEnabled(void) { return logEnabled.load(); }

static void CopyBounded(char *target, size_t size, const char *source)
{
    size_t length = strlen(source);
    if (length >= size)
        length = size - 1;
    memcpy(target, source, length);
    target[length] = '\0';
}

int StartErrorLog(const char *tag, const char *fileName)
{
    EnterCriticalSection(&logLock);
    CopyBounded(logTag, sizeof logTag, tag);
    if (chosenPath[0]) {
        CopyBounded(logPath, sizeof logPath, chosenPath);
    } else {
        DWORD length = GetTempPathA(PathSize, logPath);
        /* A temporary directory too long to hold the name falls back as a
         * missing one does. */
        if (length == 0 || length + strlen(fileName) >= PathSize)
            CopyBounded(logPath, sizeof logPath, PLATFORM_FALLBACK_TEMP_DIR);
        strncat(logPath, fileName, PathSize - strlen(logPath) - 1);
    }
    LeaveCriticalSection(&logLock);
    return ErrorLog("Error logging started for %s\n", logTag);
}

int ErrorLog(const char *format, ...)
{
    if (!logEnabled.load())
        return 0;
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0)
        return 0;
    if ((size_t)length < sizeof line)
        return WriteLogLine(line);

    char *longLine = (char *)malloc((size_t)length + 1);
    if (!longLine)
        return WriteLogLine(line); /* cut short rather than lost */
    va_start(arguments, format);
    vsnprintf(longLine, (size_t)length + 1, format, arguments);
    va_end(arguments);
    int result = WriteLogLine(longLine);
    free(longLine);
    return result;
}

/* Local time as ctime() gives it, cut before the year. */
static void FormatLogTime(char *text, size_t size)
{
    static const char days[] = "SunMonTueWedThuFriSat";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    struct tm now;
    PlatformLocalTime(time(NULL), &now);
    snprintf(text, size, "%.3s %.3s%3d %.2d:%.2d:%.2d", days + 3 * now.tm_wday, months + 3 * now.tm_mon,
             now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
}

int WriteLogLine(const char *message)
{
    if (!logEnabled.load())
        return 0;
    char stamp[32];
    FormatLogTime(stamp, sizeof stamp);
    EnterCriticalSection(&logLock);
    TrimErrorLog(logPath, logTag);
    FILE *file = logPath[0] ? PlatformOpenLog(logPath, "a") : NULL;
    if (file) {
        /* Other processes may read or remove the log at any time. */
        PlatformSetFileModeOf(file, 0666);
        fprintf(file, "%s: %s: %s", logTag, stamp, message);
        fclose(file);
    }
    LeaveCriticalSection(&logLock);
    return file ? 0 : -1;
}

/* The cut writes the tail into a file it has just created itself, next to the
 * log, and moves that over the log: a planted file or link cannot redirect it. */
int TrimErrorLog(const char *path, const char *tag)
{
    FILE *log = PlatformOpenLog(path, "rb");
    if (!log)
        return 1;
    int mode = PlatformFileModeOf(log);
    long size = fseek(log, 0, SEEK_END) == 0 ? ftell(log) : -1;
    if (size <= CutAbove) {
        fclose(log);
        return 0;
    }
    fseek(log, size - KeepBytes, SEEK_SET);

    char copyPath[PathSize + TagSize + 8];
    size_t directory = strlen(path);
    while (directory > 0 && !strchr(PLATFORM_PATH_SEPARATORS, path[directory - 1]))
        directory--;
    snprintf(copyPath, sizeof copyPath, "%.*s%s.XXXXXX", (int)directory, path, tag);
    FILE *copy = PlatformCreateFreshFile(copyPath);
    if (!copy) {
        fclose(log); /* nowhere to say so: the log is what failed */
        return 2;
    }
    char block[CopyBlock];
    size_t got;
    do {
        got = fread(block, 1, sizeof block, log);
        fwrite(block, 1, got, copy);
    } while (got == sizeof block);
    if (mode >= 0)
        PlatformSetFileModeOf(copy, mode);
    fclose(copy);
    fclose(log);
    if (!MoveFileExA(copyPath, path, MOVEFILE_REPLACE_EXISTING))
        remove(copyPath);
    return 0;
}
