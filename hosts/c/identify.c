/* A small C host: opens the receiver's port, identifies it and lists its
 * waypoints. Builds for Linux against libhalvex32.so and for Windows against
 * halvex32.dll with the same source.
 *
 *   identify PORT        e.g. /dev/ttyUSB0, or COM3 on Windows
 */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>

#include "halvex32.h"

#ifdef _WIN32
#include <windows.h>
#define PauseBriefly() Sleep(10)
#else
#include <time.h>
static void PauseBriefly(void)
{
    struct timespec pause = {0, 10000000L};
    nanosleep(&pause, NULL);
}
#endif

/* Callbacks run on the library's thread; the main thread polls these. */
static atomic_int finished, failed, why;

static void PrintText(BSTR text)
{
    for (UINT i = 0; text && i < SysStringLen(text); i++)
        putchar((char)text[i]);
}

static void HALVEX_CALL Identified(int32_t code, int32_t value, HostProductInfo *info)
{
    (void)value;
    if (code == HalvexProductLineError)
        return; /* the request goes on */
    if (code == HalvexProductIdentified) {
        printf("product %d, software %d.%02d: ", info->productId, info->softwareVersion / 100,
               info->softwareVersion % 100);
        PrintText(info->description);
        putchar('\n');
    }
    failed = code != HalvexProductIdentified;
    why = HalvexGetLastError(); /* in a failure callback: why it failed */
    finished = 1;
}

static void HALVEX_CALL Waypoints(int32_t code, int32_t value, SAFEARRAY **array)
{
    (void)code;
    (void)value;
    if (*array) {
        const HostWaypoint *waypoints = (const HostWaypoint *)(*array)->pvData;
        for (ULONG i = 0; i < (*array)->rgsabound[0].cElements; i++) {
            PrintText(waypoints[i].ident);
            printf("  %.6f %.6f\n", waypoints[i].latitude, waypoints[i].longitude);
        }
    }
    failed = *array == NULL;
    why = HalvexGetLastError();
    finished = 1;
}

/* Waits for the operation's one final callback. */
static int Await(void)
{
    while (!finished)
        PauseBriefly();
    finished = 0;
    return !failed;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    PortSession *session = OpenCommPort(argv[1], 9600);
    if (!session) {
        fprintf(stderr, "cannot open %s: error %d\n", argv[1], (int)HalvexGetLastError());
        return 3;
    }
    HalvexProductCallback identified = Identified;
    HalvexWaypointCallback waypoints = Waypoints;
    HostReceiverInfo info;
    int ok = HalvexGetProductInfoInit(session, &identified) && Await();
    if (ok && HalvexGetReceiverInfo(session, &info))
        printf("protocols %s; waypoints D%d, names of %d characters\n", info.protocols, (int)info.waypointType,
               (int)info.identWidth);
    ok = ok && HalvexDownloadWayPtInit(session, &waypoints) && Await();
    CloseCommPort(session);
    if (!ok)
        fprintf(stderr, "the receiver on %s did not answer (error %d)\n", argv[1], (int)why);
    return ok ? 0 : 4;
}
