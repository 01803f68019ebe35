/* The floor of `chwr add DB FILE.mid --no-install`: read the database and the MIDI file,
 * append one record named after the file, write the new database to a temporary file
 * beside it, flush it, make the old database the backup (a hard link) and rename the new
 * one into place, then flush the folder. Usage: add DB FILE.mid */
#include "floor.h"

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

    char backup[4096];
    snprintf(backup, sizeof backup, "%.*s.bak", (int)(strrchr(argv[1], '.') ? strrchr(argv[1], '.') - argv[1]
                                                                              : (long)strlen(argv[1])), argv[1]);
    if (writeWhole(argv[1], out, size, backup) != 0)
        return perror(argv[1]), 1;
    printf("%.*s\n", (int)nameLength, name);
    return 0;
}
