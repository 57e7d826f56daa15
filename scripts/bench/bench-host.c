/* The benchmark's C host, linked against libhalvex32.so:
 *   bench-host nmea PORT SECONDS   NMEA mode: sentences a second and CPU per sentence
 *   bench-host idle PORT SECONDS   an open port left alone: the CPU it costs
 * Prints one line of figures. CPU is the whole process's (getrusage), which
 * is the library's: this host does nothing but wait. */
#define _POSIX_C_SOURCE 200809L
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include "halvex32.h"

static atomic_long sentences;

static int16_t HALVEX_CALL OnSentence(int32_t code, int32_t value, BSTR *text)
{
    (void)value;
    (void)text;
    if (code == 0)
        sentences++;
    return -1;
}

static double CpuSeconds(void)
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

static double Now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    if (argc != 4 || (strcmp(argv[1], "nmea") && strcmp(argv[1], "idle"))) {
        fprintf(stderr, "usage: %s nmea|idle PORT SECONDS\n", argv[0]);
        return 2;
    }
    double seconds = atof(argv[3]);
    PortSession *session = OpenCommPort(argv[2], 115200);
    if (!session) {
        fprintf(stderr, "cannot open %s\n", argv[2]);
        return 3;
    }
    HalvexNmeaCallback callback = OnSentence;
    if (!strcmp(argv[1], "nmea"))
        StartNMEA(session, NULL, &callback);
    double cpu = CpuSeconds(), start = Now();
    struct timespec pause = {(time_t)seconds, (long)((seconds - (time_t)seconds) * 1e9)};
    nanosleep(&pause, NULL);
    double spentCpu = CpuSeconds() - cpu, spent = Now() - start;
    long count = sentences;
    CloseCommPort(session);
    if (!strcmp(argv[1], "nmea"))
        printf("%.0f sentences/s, %.2f us CPU per sentence (%ld sentences in %.1f s)\n", count / spent,
               count ? spentCpu * 1e6 / count : 0.0, count, spent);
    else
        printf("%.3f ms CPU in %.0f s (%.4f%% of a core)\n", spentCpu * 1e3, spent, 100 * spentCpu / spent);
    return 0;
}
