/*
 * The diagnostics log: trace lines appended to halvex32.log in the temporary
 * directory (or the file HALVEX32_LOG names), each with the tag and the local
 * time, the file cut to its last 10000 bytes once it grows beyond 100000.
 * Nothing is written while the switch is off, which it is at load unless
 * HALVEX32_LOG is set or the build says otherwise.
 */
#ifndef HALVEX_ERRLOG_H
#define HALVEX_ERRLOG_H

#define LogVariable "HALVEX32_LOG"

/* At load: the log's lock, and the switch and file HALVEX32_LOG asks for. */
void InitErrorLog(void);
void DeleteErrorLog(void);

/* Sets the tag and the log's path; writes the first line. */
int StartErrorLog(const char *tag, const char *fileName);
/* 0 when written or when the log is off; -1 when the file could not be opened. */
int ErrorLog(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Writes a finished message as one log line, same results. */
int WriteLogLine(const char *message);
/* 0 when nothing was to be done or the log was cut; 1 when the log could not
 * be read; 2 when its copy could not be created. */
int TrimErrorLog(const char *path, const char *tag);

/* The switch; no export turns it on. */
void SetLogEnabled(int enabled);
int LogEnabled(void);

#endif
