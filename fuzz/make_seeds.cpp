// Writes the starting corpora of the fuzz targets from the test builders:
//   chwr_fuzz_seeds FOLDER
// gives FOLDER/fuzz_ring_tone_database, FOLDER/fuzz_midi_reader and
// FOLDER/fuzz_midi_rewriter, a few small files each.

#include "midi_edit/smf_format.h"
#include "shell/file_io.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using chwr::Bytes;
using chwr::test::bytesOf;
using chwr::test::PdbBuilder;
using chwr::test::SmfBuilder;

// The rewriter target's settings block: start mark, end mark, cancel point, then per
// channel octave, velocity, volume and patch + 1.
constexpr std::size_t kRowBytes = 4;
constexpr std::uint8_t kWholeSong = 255;
constexpr std::uint8_t kNoPatchChange = 0;

Bytes rewriterSettings(std::uint8_t start, std::uint8_t end, std::uint8_t cancelAt,
                       const std::vector<std::uint8_t>& firstRow)
{
    Bytes settings = {start, end, cancelAt};
    for (int channel = 0; channel < chwr::smf::kChannelCount; ++channel) {
        if (channel == 0 && firstRow.size() == kRowBytes)
            settings.insert(settings.end(), firstRow.begin(), firstRow.end());
        else
            settings.insert(settings.end(), {0, 0, 0, kNoPatchChange});
    }
    return settings;
}

std::vector<Bytes> databases()
{
    const Bytes song = chwr::test::midiFileOfSize(40);
    Bytes added = song;
    added.push_back('@');
    return {
        PdbBuilder().build(),
        PdbBuilder().ringTone("One", song).build(),
        PdbBuilder().ringTone("A", bytesOf("1")).ringTone("BB", added).ringTone("", bytesOf("xyz")).build(),
        PdbBuilder().ringTone("Back", song).ringTone("To Back", added).buildBackToBack(),
        PdbBuilder().appInfo(bytesOf("app info")).sortInfo(bytesOf("sort")).ringTone("Info", song).build(),
        PdbBuilder().ringTone("dir/name\\with:separators", song).build(),
        PdbBuilder().ringTone(std::string(249, 'n'), bytesOf("long name")).build(),
    };
}

std::vector<Bytes> midiFiles()
{
    std::vector<Bytes> files;

    SmfBuilder single(0, 96);
    single.track()
        .tempo(0, 400000)
        .programChange(0, 0, 10)
        .programChange(0, 9, 0)
        .controlChange(0, 0, chwr::smf::kControllerChannelVolume, 100)
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 9, 36, 90)
        .noteOff(96, 0, 60)
        .noteOff(0, 9, 36)
        .endOfTrack(0);
    files.push_back(single.build());

    SmfBuilder layered(1, 480);
    layered.track().tempo(0, 500000).text(0, "tempo").tempo(960, 250000).endOfTrack(0);
    layered.track()
        .runningStatus(true)
        .programChange(0, 1, 40)
        .noteOn(0, 1, 64, 80)
        .noteOn(240, 1, 64, 0)
        .noteOn(0, 1, 67, 80)
        .dataOnly(240, {67, 0})
        .pitchBend(10, 1, 0x2000)
        .keyPressure(0, 1, 67, 20)
        .channelPressure(0, 1, 30)
        .endOfTrack(480);
    layered.track()
        .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .escape(0, {0xF8})
        .meta(0, 0x01, Bytes(200, 't'))
        .noteOn(0x3FFF, 2, 120, 127)
        .noteOff(100, 2, 120)
        .endOfTrack(0);
    files.push_back(layered.build());

    SmfBuilder trailer(0, 480);
    trailer.track().programChange(0, 3, 5).noteOn(0, 3, 50, 60).noteOff(480, 3, 50).endOfTrack(0);
    trailer.trailer(bytesOf("@"));
    files.push_back(trailer.build());

    SmfBuilder noTracks(1, 480);
    noTracks.announceTracks(0);
    noTracks.track().noteOn(0, 0, 60, 100).noteOff(100, 0, 60).endOfTrack(0);
    files.push_back(noTracks.build());

    SmfBuilder moreAnnounced(1, 480);
    moreAnnounced.announceTracks(3);
    moreAnnounced.track().noteOn(0, 0, 60, 100).noteOff(100, 0, 60).endOfTrack(0);
    files.push_back(moreAnnounced.build());

    files.push_back(chwr::test::midiFileOfSize(300));
    return files;
}

bool writeSeeds(const fs::path& folder, const std::vector<Bytes>& seeds)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        std::cerr << "chwr_fuzz_seeds: cannot create " << folder << ": " << error.message() << "\n";
        return false;
    }
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        const fs::path file = folder / ("seed-" + std::to_string(i + 1));
        if (auto written = chwr::writeFileAtomic(file, seeds[i]); !written) {
            std::cerr << "chwr_fuzz_seeds: " << written.error() << "\n";
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "Usage: chwr_fuzz_seeds FOLDER\n";
        return 2;
    }
    const fs::path folder = argv[1];
    const std::vector<Bytes> midi = midiFiles();

    std::vector<Bytes> rewrites;
    const std::vector<std::vector<std::uint8_t>> firstRows = {
        {},
        {1, 30, static_cast<std::uint8_t>(-20), 41},
        {static_cast<std::uint8_t>(-2), static_cast<std::uint8_t>(-60), 0, 1},
    };
    for (const Bytes& file : midi) {
        for (const auto& row : firstRows) {
            for (auto [start, end] :
                 {std::pair<std::uint8_t, std::uint8_t>{0, kWholeSong}, {64, 128}, {0, 0}}) {
                Bytes input = rewriterSettings(start, end, 0, row);
                input.insert(input.end(), file.begin(), file.end());
                rewrites.push_back(std::move(input));
            }
        }
    }
    Bytes cancelled = rewriterSettings(0, kWholeSong, 2, {});
    cancelled.insert(cancelled.end(), midi[1].begin(), midi[1].end());
    rewrites.push_back(std::move(cancelled));

    const bool ok = writeSeeds(folder / "fuzz_ring_tone_database", databases()) &&
                    writeSeeds(folder / "fuzz_midi_reader", midi) &&
                    writeSeeds(folder / "fuzz_midi_rewriter", rewrites);
    return ok ? 0 : 1;
}
