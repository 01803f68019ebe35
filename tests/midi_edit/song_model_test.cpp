// The notes the song view draws: paired, timed through the tempo map, grouped by channel.

#include "midi_edit/midi_reader.h"
#include "midi_edit/song_model.h"

#include "tests/midi_edit/midi_test_util.h"

#include <gtest/gtest.h>

#include <random>

namespace chwr {
namespace {

using namespace test;

// channel, key, start and end in milliseconds, velocity, program.
using Note = std::tuple<int, int, double, double, int, int>;

std::vector<Note> notesOf(const SongModel& model)
{
    std::vector<Note> notes;
    for (int channel = 0; channel < smf::kChannelCount; ++channel)
        for (const SongNote& n : model.notes(channel))
            notes.emplace_back(n.channel, n.key, n.startMs, n.endMs, n.velocity, n.program);
    return notes;
}

// At 480 ticks per quarter (83 60 as a delta) and 500000 microseconds per quarter, 480
// ticks are 500 ms.
TEST(SongModelTest, PairsAndTimesEachNote)
{
    const struct {
        const char* name;
        Bytes file;
        std::vector<Note> notes; // by channel, then by start
        double lengthMs;
    } cases[] = {
        {"the tempo halves the quarter at tick 960, from another track than the notes",
         song(480, {Track().tempo(960, 250000).endOfTrack().events(),
                    hex("83 60 90 3C 64|83 60 80 3C 00|00 90 3E 5A|83 60 80 3E 00|00 FF 2F 00")}),
         {{0, 60, 500, 1000, 100, -1}, {0, 62, 1000, 1250, 90, -1}},
         1250},
        {"two Note Ons of one key before their Note Offs: the first on ends at the first off",
         song(480, {hex("00 92 40 50|81 70 92 40 46|81 70 82 40 00|83 60 82 40 00|00 FF 2F 00")}),
         {{2, 64, 0, 500, 80, -1}, {2, 64, 250, 1000, 70, -1}},
         1000},
        {"a note without its Note Off lasts to the song's end, set by a longer track",
         song(480, {hex("83 60 93 32 3C|83 60 FF 2F 00"), Track().endOfTrack(1920).events()}),
         {{3, 50, 500, 2000, 60, -1}},
         2000},
        {"running status carries the Note Ons, and a Note On of velocity 0 ends a note",
         song(480, {hex("00 91 3C 64|83 60 3C 00|00 43 32|87 40 43 00|00 FF 2F 00")}),
         {{1, 60, 0, 500, 100, -1}, {1, 67, 500, 1500, 50, -1}},
         1500},
        {"running status lasts through a meta event; a stray Note Off is passed over; each note takes "
         "the program in force at its start",
         song(480, {hex("00 C9 00|00 99 24 5A|00 FF 01 01 61|00 26 70|83 60 89 24 00|00 26 00|00 C9 10|"
                        "00 99 24 50|00 89 30 00|83 60 24 00|00 FF 2F 00")}),
         {{9, 36, 0, 500, 90, 0}, {9, 38, 0, 500, 112, 0}, {9, 36, 500, 1000, 80, 16}},
         1000},
        {"the walk stops in a cut-short track and keeps the notes it found",
         song(480, {Track().endOfTrack(960).events(), hex("00 94 46 64|81 70 84 46 00|00 94 48")}),
         {{4, 70, 0, 250, 100, -1}},
         1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Result<SongModel> model = SongModel::build(c.file);
        ASSERT_TRUE(model) << model.error();
        EXPECT_EQ(notesOf(*model), c.notes);
        EXPECT_EQ(model->lengthMs(), c.lengthMs);
        // The same length as the open gives.
        EXPECT_EQ(model->lengthMs(), static_cast<double>((*readMidiFile(c.file)).lengthMilliseconds));
    }
}

TEST(SongModelTest, RefusesWhatTheOpenRefuses)
{
    for (const Bytes& file : {Bytes{'M', 'T', 'h', 'd'}, smfHeader(0, 1, 0), smfHeader(0, 1, 0xE250)}) {
        Result<SongModel> model = SongModel::build(file);
        ASSERT_FALSE(model);
        EXPECT_EQ(model.error(), readMidiFile(file).error());
    }
}

// notesAround() finds every note that sounds in a stretch, from many overlapping notes
// of random lengths on several channels, as a look at every note would.
TEST(SongModelTest, NotesAroundFindsEverySoundingNote)
{
    std::mt19937 random(7);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    SmfBuilder file(1, 480);
    for (int channel : {0, 5, 9}) {
        TrackBuilder& track = file.track();
        for (int n = 0; n < 200; ++n)
            track.noteOn(static_cast<std::uint32_t>(pick(0, 200)), channel, pick(40, 80), 100);
        for (int n = 0; n < 200; ++n)
            track.noteOff(static_cast<std::uint32_t>(pick(0, 2000)), channel, pick(40, 80));
        track.endOfTrack(0);
    }
    Result<SongModel> model = SongModel::build(file.build());
    ASSERT_TRUE(model);
    for (int channel : {0, 5, 9}) {
        ASSERT_EQ(model->notes(channel).size(), 200u);
        for (int probe = 0; probe < 100; ++probe) {
            const double from = pick(-1000, static_cast<int>(model->lengthMs()));
            const double to = from + pick(1, 3000);
            SCOPED_TRACE(testing::Message() << channel << " " << from << " " << to);
            const std::span<const SongNote> found = model->notesAround(channel, from, to);
            for (const SongNote& note : model->notes(channel)) {
                const bool sounds = note.startMs < to && note.endMs > from;
                const bool inSpan = &note >= found.data() && &note < found.data() + found.size();
                EXPECT_TRUE(inSpan || !sounds) << note.startMs << " " << note.endMs;
            }
        }
    }
}

} // namespace
} // namespace chwr
