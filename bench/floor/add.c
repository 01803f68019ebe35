/* The floor of `chwr add DB FILE.mid --no-install`: read the database and the MIDI file,
 * append one record named after the file, write the new database to a temporary file
 * beside it, flush it, make the old database the backup (a hard link) and rename the new
 * one into place, then flush the folder. Usage: add DB FILE.mid */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static unsigned char *readAll(const char *path, size_t *size, size_t room)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    rewind(f);
    unsigned char *bytes = malloc((size_t)n + room);
    if (bytes && fread(bytes, 1, (size_t)n, f) != (size_t)n) {
        free(bytes);
        bytes = NULL;
    }
    fclose(f);
    *size = (size_t)n;
    return bytes;
}

static void put(unsigned char *p, uint32_t v, int n)
{
    while (n--)
        *p++ = (unsigned char)(v >> (8 * n));
}

static uint32_t be(const unsigned char *p, int n)
{
    uint32_t v = 0;
    while (n--)
        v = v << 8 | *p++;
    return v;
}

/* Flushes the folder that holds path, so that the rename is on the disk too. */
static int syncFolder(const char *path)
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

int main(int argc, char **argv)
{
    if (argc != 3)
        return fprintf(stderr, "usage: add DB FILE.mid\n"), 2;
    size_t dbSize, midiSize;
    unsigned char *db = readAll(argv[1], &dbSize, 0), *midi = readAll(argv[2], &midiSize, 0);
    if (!db || !midi || dbSize < 79 || midiSize > 64000 || memcmp(midi, "MThd", 4) != 0)
        return fprintf(stderr, "add: cannot read the database or the MIDI file\n"), 1;
    unsigned count = be(db + 76, 2);
    size_t listEnd = 78 + 8 * (size_t)count;
    if (count == 0xFFFF || listEnd >= dbSize)
        return fprintf(stderr, "add: the database is full or damaged\n"), 1;

    /* The name: the file's name without its folder and from its first '.'. */
    const char *name = strrchr(argv[2], '/') ? strrchr(argv[2], '/') + 1 : argv[2];
    size_t nameLength = strcspn(name, ".");
    if (nameLength > 248)
        nameLength = 248;

    /* Header and list with one more entry, every offset 8 further; the rest as it was,
     * then 0x00 and the new record: "PMrc", data offset, 0, name, 0, MIDI data, "@". */
    size_t size = dbSize + 8 + 1 + 7 + nameLength + midiSize + 1;
    unsigned char *out = malloc(size), *o = out;
    memcpy(o, db, listEnd);
    put(o + 48, be(db + 48, 4) + 1, 4); /* modification number */
    for (int block = 52; block <= 56; block += 4)
        if (be(db + block, 4))
            put(o + block, be(db + block, 4) + 8, 4); /* application and sort info */
    put(o + 76, count + 1, 2);
    for (unsigned i = 0; i < count; ++i)
        put(o + 78 + 8 * i, be(db + 78 + 8 * i, 4) + 8, 4);
    o += listEnd;
    put(o, (uint32_t)(dbSize + 8 + 1), 4);
    o[4] = 0x40;
    put(o + 5, 0x3A98 + count, 3);
    o += 8;
    memcpy(o, db + listEnd, dbSize - listEnd);
    o += dbSize - listEnd;
    *o++ = 0;
    memcpy(o, "PMrc", 4);
    o[4] = (unsigned char)(nameLength + 7);
    o[5] = 0;
    memcpy(o + 6, name, nameLength);
    o += 6 + nameLength;
    *o++ = 0;
    memcpy(o, midi, midiSize);
    o[midiSize] = '@';

    char temporary[4096], backup[4096];
    snprintf(temporary, sizeof temporary, "%s.tmp", argv[1]);
    snprintf(backup, sizeof backup, "%.*s.bak", (int)(strrchr(argv[1], '.') ? strrchr(argv[1], '.') - argv[1]
                                                                              : (long)strlen(argv[1])), argv[1]);
    int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, out, size) != (ssize_t)size || fsync(fd) != 0 || close(fd) != 0)
        return perror(temporary), 1;
    if ((unlink(backup) != 0 && access(backup, F_OK) == 0) || link(argv[1], backup) != 0 ||
        rename(temporary, argv[1]) != 0 || syncFolder(argv[1]) != 0)
        return perror(argv[1]), 1;
    printf("%.*s\n", (int)nameLength, name);
    return 0;
}
