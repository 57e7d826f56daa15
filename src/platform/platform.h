/*
 * The one internal interface to the operating system. The library is written
 * against this subset of Win32 and OLE Automation: on Windows it is the real
 * API, elsewhere our own implementation in unix/. A few helpers that Win32
 * spells differently from POSIX (local time, fresh files) are named Platform*.
 */
#ifndef HALVEX_PLATFORM_H
#define HALVEX_PLATFORM_H

#include <stdio.h>
#include <time.h>

#include "halvex32.h"

#ifdef _WIN32
#define PLATFORM_FALLBACK_TEMP_DIR "c:\\temp\\"
#define PLATFORM_PATH_SEPARATORS "\\/"
#else
#include "unix/win32.h"
#define PLATFORM_FALLBACK_TEMP_DIR "/tmp/"
#define PLATFORM_PATH_SEPARATORS "/"
#endif

/* Broken-down local and UTC time of t, safe against other threads. */
void PlatformLocalTime(time_t t, struct tm *out);
void PlatformUtcTime(time_t t, struct tm *out);

/* The local zone at time t: its standard offset in minutes west of UTC, and
 * whether daylight-saving time is in effect. */
void PlatformTimeZone(time_t t, long *minutesWest, int *daylight);

/* Creates and opens for writing a file that did not exist, named after
 * pathTemplate, whose last six characters are "XXXXXX" and are replaced in
 * place. Null when no such file could be created. */
FILE *PlatformCreateFreshFile(char *pathTemplate);

/* Opens the log, "ab" to append (creating it) or "rb" to read, only if it
 * is a regular file reached without following a symbolic link: the log's
 * name in a shared directory must not lead anywhere else. */
FILE *PlatformOpenLog(const char *path, const char *mode);
/* Permission bits of an open file, or -1; and setting them on that file. */
int PlatformFileModeOf(FILE *file);
int PlatformSetFileModeOf(FILE *file, int mode);

/* A value of the calling thread's own for the library: its last error. The
 * Windows toolchain emulates thread_local with storage that outlives an
 * unload of the DLL, so a later load could read a value of the last one;
 * there a TLS slot is taken at load and given back at unload. A thread
 * that never set it reads 0. */
void PlatformInitThreadSlot(void);
void PlatformDeleteThreadSlot(void);
void PlatformSetThreadSlot(DWORD value);
DWORD PlatformThreadSlot(void);

/* Starts a thread that runs start(NULL) and then sets left as its very last
 * act in the library's code: on Windows SetEvent returns straight into the
 * system's thread start, so that an unload that waits for left under the
 * loader lock never unmaps an instruction the thread has still to run. One
 * such thread at a time; its handle, or null. */
HANDLE PlatformStartThread(LPTHREAD_START_ROUTINE start, HANDLE left);
/* Ends the dispatch thread at unload once it has been asked to stop, and
 * releases its handle. left is the event the thread sets as it leaves the
 * library's code. Nonzero when the thread had to be terminated. */
int PlatformEndThread(HANDLE thread, HANDLE left);

#endif
