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
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_NOT_READY 21
#define ERROR_CRC 23
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_OPEN_FAILED 110
#define ERROR_BUSY 170
#define ERROR_OPERATION_ABORTED 995
#define ERROR_IO_INCOMPLETE 996
#define ERROR_IO_PENDING 997
#define ERROR_ENVVAR_NOT_FOUND 203
#define ERROR_DEVICE_NOT_CONNECTED 1167
#define ERROR_PRIVILEGE_NOT_HELD 1314
#define ERROR_TIMEOUT 1460

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
/* A number of the calling thread's own, never 0, never reused. */
DWORD GetCurrentThreadId(void);
DWORD GetTickCount(void);

/* Recursive, like the Windows one. */
typedef struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION;
void InitializeCriticalSection(CRITICAL_SECTION *section);
void DeleteCriticalSection(CRITICAL_SECTION *section);
void EnterCriticalSection(CRITICAL_SECTION *section);
void LeaveCriticalSection(CRITICAL_SECTION *section);

/* Serial ports: the device is read and written by a thread of the port's own,
 * which keeps the input queue, so that the event character and overlapped
 * completions behave as on Windows. */
typedef uintptr_t ULONG_PTR;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef uint16_t WCHAR;

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3
#define FILE_FLAG_OVERLAPPED 0x40000000u

typedef struct OVERLAPPED {
    ULONG_PTR Internal;     /* ERROR_IO_PENDING while pending, then the outcome */
    ULONG_PTR InternalHigh; /* bytes transferred */
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct COMSTAT {
    DWORD flags; /* fCtsHold and the other status bits; always 0 here */
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

typedef struct COMMPROP {
    WORD wPacketLength;
    WORD wPacketVersion;
    DWORD dwServiceMask;
    DWORD dwReserved1;
    DWORD dwMaxTxQueue;
    DWORD dwMaxRxQueue;
    DWORD dwMaxBaud;
    DWORD dwProvSubType;
    DWORD dwProvCapabilities;
    DWORD dwSettableParams;
    DWORD dwSettableBaud;
    WORD wSettableData;
    WORD wSettableStopParity;
    DWORD dwCurrentTxQueue;
    DWORD dwCurrentRxQueue;
    DWORD dwProvSpec1;
    DWORD dwProvSpec2;
    WCHAR wcProvChar[1];
} COMMPROP, *LPCOMMPROP;

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1
#define RTS_CONTROL_HANDSHAKE 2

#define EV_RXCHAR 0x001
#define EV_RXFLAG 0x002
#define EV_TXEMPTY 0x004
#define EV_CTS 0x008
#define EV_DSR 0x010
#define EV_RLSD 0x020
#define EV_BREAK 0x040
#define EV_ERR 0x080
#define EV_RING 0x100

#define CE_RXOVER 0x01
#define CE_OVERRUN 0x02
#define CE_RXPARITY 0x04
#define CE_FRAME 0x08
#define CE_BREAK 0x10

#define PURGE_TXABORT 0x1
#define PURGE_RXABORT 0x2
#define PURGE_TXCLEAR 0x4
#define PURGE_RXCLEAR 0x8

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL GetCommState(HANDLE port, LPDCB dcb);
BOOL SetCommState(HANDLE port, LPDCB dcb);
BOOL GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL SetupComm(HANDLE port, DWORD inQueue, DWORD outQueue);
BOOL SetCommMask(HANDLE port, DWORD mask);
BOOL WaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE port, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE port, const void *buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE port, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
/* Completes every operation pending on the port with ERROR_OPERATION_ABORTED
 * before it returns (only a null overlapped, all of them, is known here). */
BOOL CancelIoEx(HANDLE port, LPOVERLAPPED overlapped);
BOOL ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status);
BOOL PurgeComm(HANDLE port, DWORD flags);
BOOL GetCommProperties(HANDLE port, LPCOMMPROP properties);

/* $TMPDIR with a trailing slash when set, else /tmp/. */
DWORD GetTempPathA(DWORD size, LPSTR buffer);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
/* The variable's length, or 0 when it is not set; when it does not fit, the
 * room it would take with its NUL, the buffer left as it was. */
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
/* The path made absolute from the current directory (nothing else is
 * resolved, and the file need not exist); results as GetEnvironmentVariableA. */
DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR *filePart);

#endif
