/* What the floor programs share: reading a file whole, big-endian numbers, the
 * variable-length quantities of a Standard MIDI File, one event's walk, and a write
 * that lands whole (a temporary file beside the target, flushed, renamed into place,
 * the folder flushed) as chwr writes its files. */
#ifndef CHWR_BENCH_FLOOR_H
#define CHWR_BENCH_FLOOR_H

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The file in a buffer with `room` bytes to spare after it, or NULL. */
static inline unsigned char *readAll(const char *path, size_t *size, size_t room)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    rewind(f);
    unsigned char *bytes = malloc((n > 0 ? (size_t)n : 0) + room + 1);
    if (bytes && fread(bytes, 1, (size_t)n, f) != (size_t)n) {
        free(bytes);
        bytes = NULL;
    }
    fclose(f);
    *size = (size_t)n;
    return bytes;
}

static inline uint32_t be(const unsigned char *p, int n)
{
    uint32_t v = 0;
    while (n--)
        v = v << 8 | *p++;
    return v;
}

static inline void put(unsigned char *p, uint32_t v, int n)
{
    while (n--)
        *p++ = (unsigned char)(v >> (8 * n));
}

/* A variable-length quantity; sets *p past it, or to end when it runs off. */
static inline uint32_t vlq(const unsigned char **p, const unsigned char *end)
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

static inline unsigned char *putVlq(unsigned char *o, uint32_t v)
{
    unsigned char b[4];
    int n = 0;
    do
        b[n++] = v & 0x7F;
    while ((v >>= 7) && n < 4);
    while (n--)
        *o++ = b[n] | (n ? 0x80 : 0);
    return o;
}

/* Walks one event from p, its status in *status (running status when p holds data);
 * returns the event's end. */
static inline const unsigned char *skipEvent(const unsigned char *p, const unsigned char *end, unsigned char *status)
{
    if (*p & 0x80)
        *status = *p++;
    if (*status == 0xFF)
        ++p;
    if (*status == 0xFF || *status == 0xF0 || *status == 0xF7) {
        uint32_t n = vlq(&p, end);
        return p + n;
    }
    return p + (((*status & 0xF0) == 0xC0 || (*status & 0xF0) == 0xD0) ? 1 : 2);
}

/* Flushes the folder that holds path, so that a rename is on the disk too. */
static inline int syncFolder(const char *path)
{
    char folder[4096];
    const char *slash = strrchr(path, '/');
    snprintf(folder, sizeof folder, "%.*s", slash ? (int)(slash - path) + 1 : 1, slash ? path : ".");
    int fd = open(folder, O_RDONLY | O_DIRECTORY);
    int rc = fd < 0 || fsync(fd) != 0 ? -1 : 0;
    if (fd >= 0)
        close(fd);
    return rc;
}

/* Writes bytes to path.tmp and flushes it; then, when backup is given, makes the old
 * file the backup (a hard link); renames the new file into place and flushes the folder.
 * 0, or -1 with errno set. */
static inline int writeWhole(const char *path, const unsigned char *bytes, size_t size, const char *backup)
{
    char temporary[4096];
    snprintf(temporary, sizeof temporary, "%s.tmp", path);
    int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, bytes, size) != (ssize_t)size || fsync(fd) != 0 || close(fd) != 0)
        return -1;
    if (backup && ((unlink(backup) != 0 && access(backup, F_OK) == 0) || link(path, backup) != 0))
        return -1;
    return rename(temporary, path) != 0 || syncFolder(path) != 0 ? -1 : 0;
}

#endif
