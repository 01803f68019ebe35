/* The floor of `chwr modify IN OUT --start-ms S --end-ms E`: a crop with nothing else in
 * the process. The tempo map of the first track turns the marks into ticks; each track
 * keeps its events between the marks (before the start only what is not a note, moved
 * to the start), then gets its End of Track at the end mark. The copy goes to a
 * temporary file beside OUT, is flushed and renamed into place, and the folder is
 * flushed, as chwr writes it.
 * Usage: modify IN.mid OUT.mid START_MS END_MS */
#include "floor.h"

/* The tick of a time in milliseconds under the tempo changes of the first track. */
static uint32_t tickAt(double ms, const unsigned char *p, const unsigned char *end, unsigned division)
{
    double at = 0, tempo = 500000;
    uint32_t tick = 0;
    unsigned char status = 0;
    while (p < end) {
        uint32_t delta = vlq(&p, end);
        double next = at + delta * tempo / division / 1000.0;
        if (next >= ms || p >= end)
            break;
        at = next;
        tick += delta;
        if (p[0] == 0xFF && p[1] == 0x51 && p[2] == 3)
            tempo = be(p + 3, 3);
        p = skipEvent(p, end, &status);
    }
    return tick + (uint32_t)((ms - at) * 1000.0 * division / tempo);
}

int main(int argc, char **argv)
{
    if (argc != 5)
        return fprintf(stderr, "usage: modify IN.mid OUT.mid START_MS END_MS\n"), 2;
    FILE *f = fopen(argv[1], "rb");
    if (!f)
        return perror(argv[1]), 1;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    rewind(f);
    unsigned char *in = malloc((size_t)size), *out = malloc((size_t)size + 4096);
    if (!in || !out || fread(in, 1, (size_t)size, f) != (size_t)size || size < 22 || be(in, 4) != 0x4D546864)
        return fprintf(stderr, "%s: not a Standard MIDI File\n", argv[1]), 1;
    fclose(f);

    unsigned tracks = be(in + 10, 2), division = be(in + 12, 2);
    const unsigned char *p = in + 8 + be(in + 4, 4), *fileEnd = in + size;
    uint32_t startTick = tickAt(atof(argv[3]), p + 8, p + 8 + be(p + 4, 4), division);
    uint32_t endTick = tickAt(atof(argv[4]), p + 8, p + 8 + be(p + 4, 4), division);
    memcpy(out, in, 14);
    unsigned char *o = out + 14;
    for (unsigned t = 0; t < tracks && p + 8 <= fileEnd; ++t) {
        const unsigned char *end = p + 8 + be(p + 4, 4) > fileEnd ? fileEnd : p + 8 + be(p + 4, 4);
        unsigned char *header = o, status = 0, lastOut = 0;
        memcpy(o, "MTrk\0\0\0\0", 8);
        o += 8;
        p += 8;
        uint32_t tick = 0, written = 0;
        while (p < end) {
            tick += vlq(&p, end);
            if (tick >= endTick || p >= end)
                break;
            const unsigned char *event = p;
            p = skipEvent(p, end, &status);
            if (p > end || status == 0 || (status == 0xFF && event[event[0] == 0xFF] == 0x2F))
                break;
            int note = (status & 0xE0) == 0x80;
            if (tick < startTick && note)
                continue;
            uint32_t at = tick < startTick ? 0 : tick - startTick;
            o = putVlq(o, at - written);
            written = at;
            if (event[0] & 0x80)
                ++event;
            if (status != lastOut || status >= 0xF0) /* running status for channel messages */
                *o++ = status;
            lastOut = status;
            memcpy(o, event, (size_t)(p - event));
            o += p - event;
        }
        o = putVlq(o, endTick - startTick - written);
        memcpy(o, "\xFF\x2F\x00", 3);
        o += 3;
        uint32_t length = (uint32_t)(o - header - 8);
        unsigned char lengthBytes[4] = {length >> 24, length >> 16, length >> 8, length};
        memcpy(header + 4, lengthBytes, 4);
        p = end;
    }

    if (writeWhole(argv[2], out, (size_t)(o - out), NULL) != 0)
        return perror(argv[2]), 1;
    printf("Wrote %s (%ld bytes)\n", argv[2], (long)(o - out));
    return 0;
}
