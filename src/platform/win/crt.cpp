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

static DWORD threadSlot = TLS_OUT_OF_INDEXES;
/* Where no slot could be taken, one value for all threads beats none. */
static volatile DWORD sharedValue;

void PlatformInitThreadSlot(void) { threadSlot = TlsAlloc(); }

void PlatformDeleteThreadSlot(void)
{
    if (threadSlot != TLS_OUT_OF_INDEXES)
        TlsFree(threadSlot);
    threadSlot = TLS_OUT_OF_INDEXES;
}

void PlatformSetThreadSlot(DWORD value)
{
    if (threadSlot == TLS_OUT_OF_INDEXES)
        sharedValue = value;
    else
        TlsSetValue(threadSlot, (LPVOID)(uintptr_t)value);
}

DWORD PlatformThreadSlot(void)
{
    if (threadSlot == TLS_OUT_OF_INDEXES)
        return sharedValue;
    /* TlsGetValue clears the system's last error, which the host may still
     * want to read. */
    DWORD system = GetLastError();
    DWORD value = (DWORD)(uintptr_t)TlsGetValue(threadSlot);
    SetLastError(system);
    return value;
}

/* The thread's start, written out so that its last act is a jump, not a
 * call: SetEvent(left) then returns to our caller, the system's thread
 * start, which ends the thread. A call would return into this code, which
 * the unloading host thread, woken by the event, may already have unmapped
 * (seen under Wine within a few load and unload cycles). The record is read
 * before the jump. */
struct Launch {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    HANDLE left;
};
static Launch launch;

extern "C" DWORD WINAPI LaunchAndSignal(LPVOID record);
#if defined(__x86_64__)
/* With its unwind data, so that debuggers and crash dumps can walk past it. */
asm(".text\n"
    ".globl LaunchAndSignal\n"
    ".seh_proc LaunchAndSignal\n"
    "LaunchAndSignal:\n"
    "    pushq %rbx\n"
    "    .seh_pushreg %rbx\n"
    "    subq $32, %rsp\n" /* the callee's shadow space; rsp stays 16-byte aligned */
    "    .seh_stackalloc 32\n"
    "    .seh_endprologue\n"
    "    movq %rcx, %rbx\n"
    "    movq 8(%rbx), %rcx\n"
    "    callq *(%rbx)\n"
    "    movq 16(%rbx), %rcx\n"
    "    addq $32, %rsp\n"
    "    popq %rbx\n"
    "    jmpq *__imp_SetEvent(%rip)\n"
    ".seh_endproc\n");
#elif defined(__i386__)
asm(".text\n"
    ".globl _LaunchAndSignal@4\n"
    "_LaunchAndSignal@4:\n"
    "    pushl %ebx\n"
    "    movl 8(%esp), %ebx\n"
    "    pushl 4(%ebx)\n"
    "    calll *(%ebx)\n" /* standard call: start pops its argument */
    "    movl 8(%ebx), %eax\n"
    "    popl %ebx\n"
    "    movl %eax, 4(%esp)\n" /* left takes the place of our own argument */
    "    jmpl *__imp__SetEvent@4\n");
#else
#error "the thread's start is written for x86 and x86-64"
#endif

HANDLE PlatformStartThread(LPTHREAD_START_ROUTINE start, HANDLE left)
{
    launch.start = start;
    launch.parameter = NULL;
    launch.left = left;
    DWORD threadId;
    return CreateThread(NULL, 0, LaunchAndSignal, &launch, 0, &threadId);
}

int PlatformEndThread(HANDLE thread, HANDLE left)
{
    /* Process detach holds the loader lock, which an ending thread needs, so
     * the thread cannot finish while we wait for it: we wait for the event it
     * sets as it leaves our code, and it finishes once the unload is done. A
     * thread terminated while holding a heap or C runtime lock would deadlock
     * the host later, so that is kept for a thread stuck past the bound. */
    int stuck = !left || WaitForSingleObjectEx(left, 100, FALSE) != WAIT_OBJECT_0;
    if (stuck)
        TerminateThread(thread, 0);
    CloseHandle(thread);
    return stuck;
}
