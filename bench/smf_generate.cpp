#include "bench/smf_generator.h"
#include "shell/file_io.h"

#include <charconv>
#include <cstdio>
#include <string_view>

// smf_generate BYTES OUT.mid [SEED]: writes a made-up song of about BYTES bytes, for
// measuring chwr as a whole process and for seeding fuzzers.
int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "Usage: smf_generate BYTES OUT.mid [SEED]\n");
        return 2;
    }
    std::size_t bytes = 0;
    std::uint32_t seed = 1;
    std::string_view size = argv[1];
    if (std::from_chars(size.data(), size.data() + size.size(), bytes).ec != std::errc() ||
        (argc == 4 && std::from_chars(argv[3], argv[3] + std::char_traits<char>::length(argv[3]), seed).ec !=
                          std::errc())) {
        std::fprintf(stderr, "smf_generate: BYTES and SEED are whole numbers\n");
        return 2;
    }
    chwr::Result<void> written = chwr::writeFileAtomic(argv[2], chwr::bench::generateSong(bytes, seed));
    if (!written) {
        std::fprintf(stderr, "smf_generate: %s\n", written.error().c_str());
        return 1;
    }
    return 0;
}
