/* The floor of `chwr list DB`: the Palm database header and record list, and of each
 * record only its name and last byte, read where they lie; one line per ring tone:
 * INDEX, NAME, SIZE and "x" when the data ends with the "@" an added ring tone carries.
 * Usage: list DB */
#include "floor.h"

#include <sys/stat.h>

int main(int argc, char **argv)
{
    int fd = argc == 2 ? open(argv[1], O_RDONLY) : -1;
    struct stat info;
    unsigned char header[78];
    if (fd < 0 || fstat(fd, &info) != 0 || pread(fd, header, 78, 0) != 78)
        return fprintf(stderr, "usage: list DB (a readable Palm database)\n"), 1;
    unsigned count = be(header + 76, 2);
    unsigned char *list = malloc(8 * (size_t)count + 1);
    if (!list || pread(fd, list, 8 * (size_t)count, 78) != (ssize_t)(8 * (size_t)count))
        return fprintf(stderr, "%s: the record list runs past the end\n", argv[1]), 1;

    for (unsigned i = 0; i < count; ++i) {
        /* A record: "PMrc", the data offset, a reserved byte, the name and its 0x00, the
         * data up to the 0x00 before the next record (or the end of the file). */
        uint32_t offset = be(list + 8 * i, 4);
        int64_t next = i + 1 < count ? (int64_t)be(list + 8 * (i + 1), 4) - 1 : (int64_t)info.st_size;
        unsigned char record[256], last = 0;
        ssize_t n = pread(fd, record, sizeof record, offset);
        if (n < 7 || next + 1 - offset <= 6) /* a span of 6 bytes or fewer holds no ring tone */
            continue;
        int end = 6;
        while (end < n && record[end] != 0)
            ++end;
        if (end == n)
            return fprintf(stderr, "%s: record %u has no end to its name\n", argv[1], i + 1), 1;
        int64_t size = next - (offset + end + 1);
        if (size > 0 && pread(fd, &last, 1, next - 1) != 1)
            return perror(argv[1]), 1;
        printf("%u\t%.*s\t%lld\t%s\n", i + 1, end - 6, (const char *)record + 6, (long long)size,
               last == '@' ? "x" : "");
    }
    free(list);
    close(fd);
    return 0;
}
