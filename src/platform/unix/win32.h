/*
 * The Win32 subset that the library calls, for systems other than Windows.
 * Types keep their Windows widths; calls keep their Windows results and
 * GetLastError codes.
 */
#ifndef HALVEX_UNIX_WIN32_H
#define HALVEX_UNIX_WIN32_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

typedef uint32_t DWORD;
typedef int BOOL;
typedef void *HANDLE;
typedef void *LPVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef DWORD *LPDWORD;
typedef struct SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAXDWORD 0xFFFFFFFFu
#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED_0 0x80u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_OPERATION_ABORTED 995
#define ERROR_IO_INCOMPLETE 996
#define ERROR_IO_PENDING 997

#define MOVEFILE_REPLACE_EXISTING 0x1

typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID parameter);

DWORD GetLastError(void);
void SetLastError(DWORD error);

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE object);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll, DWORD milliseconds);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForSingleObjectEx(HANDLE object, DWORD milliseconds, BOOL alertable);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, size_t stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId);
void ExitThread(DWORD exitCode) __attribute__((noreturn));
void Sleep(DWORD milliseconds);
DWORD GetTickCount(void);

/* Recursive, like the Windows one. */
typedef struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION;
void InitializeCriticalSection(CRITICAL_SECTION *section);
void DeleteCriticalSection(CRITICAL_SECTION *section);
void EnterCriticalSection(CRITICAL_SECTION *section);
void LeaveCriticalSection(CRITICAL_SECTION *section);

/* $TMPDIR with a trailing slash when set, else /tmp/. */
DWORD GetTempPathA(DWORD size, LPSTR buffer);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);

#endif
