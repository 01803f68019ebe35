// MIDI files as they come: headers that count their tracks wrongly, chunks of other kinds
// among the tracks. A finished rewrite is a file whose header counts its tracks.

#include "midi_edit/midi_open.h"
#include "midi_edit/midi_rewriter.h"
#include "shell/program_folder.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace chwr {
namespace {

using test::concat;
using test::smfHeader;
using test::TrackBuilder;

const Bytes kFirst = test::trackChunk(TrackBuilder()
                                          .tempo(0, 400000)
                                          .programChange(0, 0, 9)
                                          .noteOn(0, 0, 60, 90)
                                          .noteOff(960, 0, 60)
                                          .endOfTrack()
                                          .events());
const Bytes kSecond = test::trackChunk(
    TrackBuilder().programChange(0, 1, 33).noteOn(100, 1, 48, 70).noteOff(1500, 1, 48).endOfTrack().events());

// A chunk of another kind: the id, the length, that many bytes.
Bytes chunk(const std::string& id, std::uint8_t length)
{
    return concat({asBytes(id), Bytes{0, 0, 0, length}, Bytes(length, 0x7F)});
}

// The rewrite that "Apply" and chwr modify make (channel 2 an octave up, 100 ms cut at
// each end), its header patched in memory.
Bytes rewrite(const Bytes& source, int* tracksWritten = nullptr)
{
    Result<MidiFileSummary> summary = readMidiFile(source);
    RewriteSettings settings{Marks{100, static_cast<double>(summary->lengthMilliseconds - 100)}, {}};
    settings.adjustments[1].octave = 1;
    Bytes out;
    auto append = [&](ByteView bytes) -> Result<void> {
        out.insert(out.end(), bytes.begin(), bytes.end());
        return {};
    };
    auto patch = [&](ByteView header) -> Result<void> {
        std::copy(header.begin(), header.end(), out.begin());
        return {};
    };
    Result<RewriteResult> result = rewriteMidi(source, *summary, settings, append, {}, patch);
    EXPECT_TRUE(result) << result.error();
    if (result && tracksWritten)
        *tracksWritten = result->tracksWritten;
    return out;
}

TEST(MidiInputs, TheResultsHeaderCountsTheTracksItHolds)
{
    // Announced, the chunks there, the tracks held.
    const std::tuple<int, Bytes, int> songs[] = {{3, concat({kFirst, kSecond}), 2},
                                                 {5, kFirst, 1},
                                                 {0, concat({kFirst, kSecond}), 1},
                                                 {2, concat({kFirst, kSecond}), 2},
                                                 {2, concat({kFirst, Bytes{'M', 'T'}}), 1}};
    for (const auto& [announced, tracks, held] : songs) {
        int written = -1;
        const Bytes out = rewrite(concat({smfHeader(1, announced, 480), tracks}), &written);
        EXPECT_EQ(written, held) << announced;
        EXPECT_EQ((out[10] << 8) | out[11], held) << announced;
        EXPECT_EQ(readMidiFile(out)->tracksRead, held) << announced;
        EXPECT_FALSE(readMidiFile(out)->stoppedEarly) << announced;
    }
}

class MidiInputsFileTest : public test::TempFolderTest {};

// head and chwr modify's output get those bytes, the header patched in the file.
TEST_F(MidiInputsFileTest, HeadAndChwrModifyCountTheTracksTheyHold)
{
    const Bytes source = concat({smfHeader(1, 3, 480), kFirst, kSecond});
    const std::filesystem::path song = writeFile("song.mid", source);
    Result<ChannelTable> table = ChannelTable::open();
    ASSERT_TRUE(table) << table.error();
    MidiEditState state;
    Result<MidiFileSummary> opened = openMidiForEditing(song, *table, state);
    Result<std::vector<ChannelAdjustment>> rows = table->rows();
    ASSERT_TRUE(opened && rows);
    for (ChannelAdjustment row : *rows) {
        row.Octave = row.Channel == 2 ? 1 : 0;
        ASSERT_TRUE(table->save(row));
    }
    const std::int64_t end = opened->lengthMilliseconds - 100;
    ASSERT_TRUE(MidiRewriter().apply(state, *table, Marks{100, static_cast<double>(end)}));
    test::ProcessResult modified = test::runProcess(
        {(test::binaryDir() / "cli" / "chwr").string(), "modify", song.string(), path("out.mid").string(),
         "--start-ms", "100", "--end-ms", std::to_string(end), "--adjust", "2:octave=1"});
    EXPECT_EQ(modified.exitCode, 0) << modified.err;
    EXPECT_EQ(readFile(programFolder() / "head"), rewrite(source));
    EXPECT_EQ(readFile(path("out.mid")), rewrite(source));
    EXPECT_EQ(rewrite(source)[11], 2);
}

// Chunks of other kinds are passed over and left out; a chunk whose id is not printable,
// or whose length runs past the end, is a track as before, written as "MTrk".
TEST(MidiInputs, ChunksOfOtherKindsArePassedOverAndLeftOut)
{
    const Bytes header = smfHeader(1, 2, 480);
    const Bytes plain = concat({header, kFirst, kSecond});
    Bytes unprintable = plain;
    unprintable[14] = 0x01;
    Bytes runsPast = plain;
    runsPast[14 + kFirst.size()] = 'J';
    runsPast[14 + kFirst.size() + 4] = 0xFF;
    const Bytes files[] = {
        concat({header, chunk("XFIH", 12), kFirst, kSecond}),
        concat({header, kFirst, chunk("Text", 0), chunk("XF K", 3), kSecond}),
        concat({header, chunk("Text", 0), kFirst, chunk("XFIH", 12), kSecond, chunk("XFIH", 2)}), unprintable,
        runsPast};
    const Result<MidiFileSummary> expected = readMidiFile(plain);
    for (const Bytes& file : files) {
        Result<MidiFileSummary> summary = readMidiFile(file);
        EXPECT_EQ(summary->programs, expected->programs) << ::testing::PrintToString(file);
        EXPECT_EQ(summary->lengthMilliseconds, expected->lengthMilliseconds);
        EXPECT_EQ(summary->tracksRead, 2);
        EXPECT_FALSE(summary->stoppedEarly);
        EXPECT_EQ(rewrite(file), rewrite(plain));
    }
}

} // namespace
} // namespace chwr
