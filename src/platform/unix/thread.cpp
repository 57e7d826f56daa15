#include <atomic>
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include "../platform.h"
#include "object.h"

struct ThreadObject {
    KernelObject base; /* signalled once the thread has finished */
    pthread_t thread;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    DWORD exitCode;
    int finished;
    int handleClosed;
};

static thread_local ThreadObject *currentThread;
static thread_local DWORD lastError;
static thread_local DWORD threadSlot;
static thread_local DWORD currentThreadId;

DWORD GetLastError(void) { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

DWORD GetCurrentThreadId(void)
{
    static std::atomic<DWORD> lastId{0};
    if (!currentThreadId)
        currentThreadId = ++lastId;
    return currentThreadId;
}

/* Native thread-local storage: nothing to take or give back. */
void PlatformInitThreadSlot(void) {}

void PlatformDeleteThreadSlot(void) {}

void PlatformSetThreadSlot(DWORD value) { threadSlot = value; }

DWORD PlatformThreadSlot(void) { return threadSlot; }

/* Whoever comes second, the finishing thread or the closing handle, frees the
 * record: a closed handle's thread runs on detached. */
static void FinishThread(ThreadObject *thread, DWORD exitCode)
{
    pthread_mutex_lock(&kernelLock);
    thread->exitCode = exitCode;
    thread->finished = 1;
    SignalObject(&thread->base);
    int orphan = thread->handleClosed;
    pthread_mutex_unlock(&kernelLock);
    if (orphan)
        free(thread);
}

static void CloseThread(KernelObject *object)
{
    ThreadObject *thread = (ThreadObject *)object;
    pthread_mutex_lock(&kernelLock);
    thread->handleClosed = 1;
    int finished = thread->finished;
    pthread_t id = thread->thread;
    pthread_mutex_unlock(&kernelLock);
    if (finished) {
        /* Reaps it: once this returns no code of the thread is running. */
        pthread_join(id, NULL);
        free(thread);
    } else {
        pthread_detach(id);
    }
}

static const KernelObjectOps threadOps = {CloseThread};

static void *ThreadMain(void *parameter)
{
    ThreadObject *thread = (ThreadObject *)parameter;
    currentThread = thread;
    FinishThread(thread, thread->start(thread->parameter));
    return NULL;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, size_t stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId)
{
    (void)security;
    (void)stackSize;
    (void)flags; /* threads always start at once here */
    static uint32_t lastThreadId;
    ThreadObject *thread = (ThreadObject *)calloc(1, sizeof *thread);
    if (!thread) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    thread->base.ops = &threadOps;
    thread->base.manualReset = 1;
    thread->start = start;
    thread->parameter = parameter;
    if (pthread_create(&thread->thread, NULL, ThreadMain, thread) != 0) {
        free(thread);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    HANDLE handle = InsertObject(&thread->base);
    if (handle && threadId)
        *threadId = __atomic_add_fetch(&lastThreadId, 1, __ATOMIC_RELAXED);
    return handle;
}

void ExitThread(DWORD exitCode)
{
    if (currentThread)
        FinishThread(currentThread, exitCode);
    pthread_exit(NULL);
}

static struct {
    LPTHREAD_START_ROUTINE start;
    HANDLE left;
} launch;

static DWORD WINAPI LaunchAndSignal(LPVOID parameter)
{
    (void)parameter;
    DWORD result = launch.start(NULL);
    SetEvent(launch.left);
    return result;
}

HANDLE PlatformStartThread(LPTHREAD_START_ROUTINE start, HANDLE left)
{
    launch.start = start;
    launch.left = left;
    DWORD threadId;
    return CreateThread(NULL, 0, LaunchAndSignal, NULL, 0, &threadId);
}

int PlatformEndThread(HANDLE thread, HANDLE left)
{
    /* No loader lock stands in the way here: the thread ends by itself, and
     * its end is a later moment than left's. */
    (void)left;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 0;
}

void Sleep(DWORD milliseconds)
{
    struct timespec left = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

DWORD GetTickCount(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (DWORD)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

void InitializeCriticalSection(CRITICAL_SECTION *section)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_destroy(&section->mutex); }

void EnterCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_lock(&section->mutex); }

void LeaveCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_unlock(&section->mutex); }
