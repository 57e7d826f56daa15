/* Frames on the wire: DLE, id, size, data, checksum, DLE ETX, with every DLE
 * from the id to the checksum doubled. */
#include <stdlib.h>
#include <string.h>

#include "../errlog/errlog.h"
#include "../port/registry.h"
#include "link.h"
#include "state.h"

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

static void StartFrame(FrameParser *parser)
{
    if (!parser->buffer)
        parser->buffer = (unsigned char *)malloc(FrameLimit);
    parser->count = 0;
    parser->state = parser->buffer ? Collecting : Hunting;
}

static void DropFrame(FrameParser *parser)
{
    free(parser->buffer);
    parser->buffer = NULL;
    parser->state = Hunting;
}

/* Takes one byte; a complete frame is handed over, the caller's from then on. */
static unsigned char *TakeByte(FrameParser *parser, unsigned char byte)
{
    switch (parser->state) {
    case Hunting:
        if (byte == DLE) {
            StartFrame(parser);
            if (parser->buffer)
                parser->buffer[parser->count++] = DLE;
        }
        break;
    case Collecting:
        if (parser->count >= FrameLimit) {
            DropFrame(parser); /* too long for any packet: hunt again */
            break;
        }
        parser->buffer[parser->count++] = byte;
        if (byte == DLE)
            parser->state = AfterDle;
        break;
    case AfterDle:
        if (byte == DLE) {
            parser->state = Collecting; /* an escaped DLE, stored once */
        } else if (byte == ETX) {
            if (parser->count >= FrameLimit) {
                DropFrame(parser);
                break;
            }
            parser->buffer[parser->count++] = ETX;
            unsigned char *frame = parser->buffer;
            parser->buffer = NULL;
            parser->state = Hunting;
            return frame;
        } else {
            /* A lone DLE: it starts a new frame with this byte as its id. */
            parser->buffer[0] = DLE;
            parser->buffer[1] = byte;
            parser->count = 2;
            parser->state = Collecting;
            ErrorLog("It happened\n");
        }
        break;
    }
    return NULL;
}

void LinkReceive(PortSession *session, const unsigned char *bytes, int count)
{
    for (int i = 0; i < count; i++) {
        FrameParser *parser = &LinkOf(session)->parser;
        unsigned char *frame = TakeByte(parser, bytes[i]);
        if (!frame)
            continue;
        /* The frame is ours: whatever the handler does to the session (leave
         * binary mode, close the port) cannot free it under us. What is left
         * of the bytes goes on only to a link that still has the line. */
        HandleFrame(session, frame, parser->count);
        free(frame);
        if (!IsLiveSession(session) || LinkObjective(session) < ObjectiveReady)
            return;
    }
}
