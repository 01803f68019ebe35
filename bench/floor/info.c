/* The floor of `chwr info`: read a Standard MIDI File and walk every event of every
 * track (running status, meta events, system exclusive), counting events and the
 * length in ticks, with nothing else in the process. bench/process.sh times chwr
 * against it. Usage: info FILE.mid */
#include "floor.h"

int main(int argc, char **argv)
{
    size_t size;
    unsigned char *file = argc == 2 ? readAll(argv[1], &size, 0) : NULL;
    if (!file || size < 14 || be(file, 4) != 0x4D546864) {
        fprintf(stderr, "usage: info FILE.mid (a readable Standard MIDI File)\n");
        return 1;
    }
    unsigned format = be(file + 8, 2), tracks = be(file + 10, 2), division = be(file + 12, 2);
    uint32_t tempo = 500000, lengthTicks = 0;
    unsigned long events = 0;
    int programs[16];
    for (int i = 0; i < 16; ++i)
        programs[i] = -1;

    const unsigned char *p = file + 8 + be(file + 4, 4), *fileEnd = file + size;
    for (unsigned t = 0; t < tracks && p + 8 <= fileEnd; ++t) {
        uint32_t length = be(p + 4, 4);
        const unsigned char *end = p + 8 + length > fileEnd ? fileEnd : p + 8 + length;
        p += 8;
        uint32_t tick = 0;
        unsigned char status = 0;
        while (p < end) {
            tick += vlq(&p, end);
            if (p >= end || (!(*p & 0x80) && status == 0)) /* a data byte without a status */
                break;
            const unsigned char *event = p;
            p = skipEvent(p, end, &status);
            ++events;
            if (event[0] == 0xFF && event[1] == 0x51 && event[2] == 3 && p <= end)
                tempo = be(event + 3, 3);
            else if ((status & 0xF0) == 0xC0 && p <= end)
                programs[status & 0x0F] = p[-1];
            if (event[0] == 0xFF && event[1] == 0x2F)
                break;
            if (status >= 0xF0) /* meta and system exclusive end running status */
                status = 0;
        }
        if (tick > lengthTicks)
            lengthTicks = tick;
        p = end;
    }
    printf("format %u, tracks %u, division %u, tempo %u, events %lu, length %u ticks\n", format, tracks,
           division, tempo, events, lengthTicks);
    for (int i = 0; i < 16; ++i)
        printf("%d%c", programs[i], i == 15 ? '\n' : ' ');
    free(file);
    return 0;
}
