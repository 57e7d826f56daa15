/* Frames on the wire: DLE, id, size, data, checksum, DLE ETX, with every DLE
 * from the id to the checksum doubled. */
#include <stdlib.h>
#include <string.h>

#include "../errlog/errlog.h"
#include "../port/registry.h"
#include "link.h"

enum { DLE = 0x10, ETX = 0x03 };
enum ParseState { Hunting = 0, Collecting = 1, AfterDle = 2 };

static int PutEscaped(unsigned char *out, int at, unsigned char byte)
{
    out[at++] = byte;
    if (byte == DLE)
        out[at++] = DLE;
    return at;
}

unsigned char *EncodeFrame(int id, const unsigned char *data, int length, int *frameLength)
{
    unsigned char *frame = (unsigned char *)malloc(2 * (size_t)length + 12);
    if (!frame)
        return NULL;
    int at = 0;
    frame[at++] = DLE;
    at = PutEscaped(frame, at, (unsigned char)id);
    at = PutEscaped(frame, at, (unsigned char)length);
    unsigned sum = (unsigned)id + (unsigned)length;
    for (int i = 0; i < length; i++) {
        sum += data[i];
        at = PutEscaped(frame, at, data[i]);
    }
    at = PutEscaped(frame, at, (unsigned char)(0u - sum));
    frame[at++] = DLE;
    frame[at++] = ETX;
    *frameLength = at;
    return frame;
}

static void StartFrame(PortSession *session)
{
    if (!session->frameBuffer)
        session->frameBuffer = (unsigned char *)malloc(FrameLimit);
    session->parseCount = 0;
    session->parseState = session->frameBuffer ? Collecting : Hunting;
}

static void DropFrame(PortSession *session)
{
    free(session->frameBuffer);
    session->frameBuffer = NULL;
    session->parseState = Hunting;
}

void LinkReceive(PortSession *session, const unsigned char *bytes, int count)
{
    for (int i = 0; i < count; i++) {
        unsigned char byte = bytes[i];
        switch (session->parseState) {
        case Hunting:
            if (byte == DLE) {
                StartFrame(session);
                if (session->frameBuffer)
                    session->frameBuffer[session->parseCount++] = DLE;
            }
            break;
        case Collecting:
            if (session->parseCount >= FrameLimit) {
                DropFrame(session); /* too long for any packet: hunt again */
                break;
            }
            session->frameBuffer[session->parseCount++] = byte;
            if (byte == DLE)
                session->parseState = AfterDle;
            break;
        case AfterDle:
            if (byte == DLE) {
                session->parseState = Collecting; /* an escaped DLE, stored once */
            } else if (byte == ETX) {
                if (session->parseCount >= FrameLimit) {
                    DropFrame(session);
                    break;
                }
                session->frameBuffer[session->parseCount++] = ETX;
                /* The frame is ours from here on: whatever the handler does to
                 * the session (leave binary mode, close the port) cannot free
                 * it under us. */
                unsigned char *frame = session->frameBuffer;
                session->frameBuffer = NULL;
                session->parseState = Hunting;
                HandleFrame(session, frame, session->parseCount);
                free(frame);
                if (!IsLiveSession(session) || session->objective < ObjectiveReady)
                    return;
            } else {
                /* A lone DLE: it starts a new frame with this byte as its id. */
                session->frameBuffer[0] = DLE;
                session->frameBuffer[1] = byte;
                session->parseCount = 2;
                session->parseState = Collecting;
                ErrorLog("It happened\n");
            }
            break;
        }
    }
}
