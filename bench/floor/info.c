/* The floor of `chwr info`: read a Standard MIDI File and walk every event of every
 * track (running status, meta events, system exclusive), counting events and the
 * length in ticks, with nothing else in the process. bench/process.sh times chwr
 * against it. Usage: info FILE.mid */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static unsigned char *readAll(const char *path, size_t *size)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    rewind(f);
    unsigned char *bytes = malloc(n > 0 ? (size_t)n : 1);
    if (bytes && fread(bytes, 1, (size_t)n, f) != (size_t)n) {
        free(bytes);
        bytes = NULL;
    }
    fclose(f);
    *size = (size_t)n;
    return bytes;
}

static uint32_t be(const unsigned char *p, int n)
{
    uint32_t v = 0;
    while (n--)
        v = v << 8 | *p++;
    return v;
}

/* A variable-length quantity; sets *p past it, or to end when it runs off. */
static uint32_t vlq(const unsigned char **p, const unsigned char *end)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && *p < end; ++i) {
        unsigned char c = *(*p)++;
        v = v << 7 | (c & 0x7F);
        if (!(c & 0x80))
            return v;
    }
    *p = end;
    return v;
}

int main(int argc, char **argv)
{
    size_t size;
    unsigned char *file = argc == 2 ? readAll(argv[1], &size) : NULL;
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
            if (p >= end)
                break;
            if (*p & 0x80)
                status = *p++;
            ++events;
            if (status == 0xFF) { /* meta: type, length, data */
                unsigned char type = p < end ? *p++ : 0;
                uint32_t n = vlq(&p, end);
                if (type == 0x51 && n == 3 && p + 3 <= end)
                    tempo = be(p, 3);
                p += n;
                status = 0;
                if (type == 0x2F)
                    break;
            } else if (status == 0xF0 || status == 0xF7) { /* system exclusive */
                uint32_t n = vlq(&p, end);
                p += n;
                status = 0;
            } else if (status >= 0x80) {
                unsigned char kind = status & 0xF0;
                if (kind == 0xC0 && p < end)
                    programs[status & 0x0F] = *p;
                p += (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            } else { /* a data byte without a status */
                break;
            }
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
