// The table of bad inputs, each a named row that docs/RELIABILITY.md lists, with what the
// user sees (the message of the window's core call and of chwr) and what is kept (the
// input as it was, no output in its place). The fuzzers' findings are rows too.

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_open.h"
#include "midi_edit/midi_reader.h"
#include "ringtone_db/ring_tone_files.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <gmock/gmock.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace ::testing;

const auto chwr = runChwr;

Bytes cut(Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

// The bytes with a big-endian number of `width` bytes, or text, written at `at`.
Bytes withNumber(Bytes bytes, std::size_t at, std::uint32_t value, int width = 4)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
    return bytes;
}
Bytes withText(Bytes bytes, std::size_t at, const std::string& text)
{
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

const Bytes kTextFile = [] {
    std::string text;
    while (text.size() < 300)
        text += "This is a letter, not a ring tone database nor a song.\n";
    return bytesOf(text.substr(0, 300));
}();

// --- Ring tone databases ---------------------------------------------------------------

// Refused with loadMessage, or loaded with ringTones ring tones; then written, or
// refused with writeMessage.
struct BadDatabase {
    std::string name;
    Bytes file;
    std::string loadMessage = {};
    std::size_t ringTones = 0;
    std::string writeMessage = {};
    friend void PrintTo(const BadDatabase& row, std::ostream* out) { *out << row.name; }
};

// Two ring tones as the system writes them: the record list at 78 and 86, the records
// at 96 and 147.
const Bytes kTwo =
    PdbBuilder().ringTone("One", midiFileOfSize(40)).ringTone("Two", midiFileOfSize(50)).build();

const BadDatabase kBadDatabases[] = {
    {"EmptyFile", {}, "The file is shorter than a Palm database header: it has 0 bytes, the header alone 78"},
    // The record count is the header's last field: a header alone is an empty database.
    {"HeaderAlone", pdbHeader({}), "", 0},
    {"CutInsideTheHeader", cut(kTwo, 77),
     "The file is shorter than a Palm database header: it has 77 bytes, the header alone 78"},
    {"CutInsideTheRecordList", cut(kTwo, 89),
     "The record list of 2 entries runs past the end of the file (89 bytes)"},
    {"CutBeforeTheLastRecord", cut(kTwo, 146),
     "Record 2 starts at offset 147, beyond the end of the file (146 bytes)"},
    // The last record starts at the end: it holds nothing, and is left out.
    {"CutWhereTheLastRecordStarts", cut(kTwo, 147), "", 1},
    {"CutInsideTheLastRecord", cut(kTwo, kTwo.size() - 20), "", 2},
    {"RecordCountLargerThanTheFile", withNumber(kTwo, 76, 5000, 2),
     "The record list of 5000 entries runs past the end of the file (207 bytes)"},
    {"OffsetBeyondTheEnd", withNumber(kTwo, 86, 100000),
     "Record 2 starts at offset 100000, beyond the end of the file (207 bytes)"},
    {"OffsetNegativeAsASigned32BitNumber", withNumber(kTwo, 78, 0xFFFFFFF0),
     "Record 1 has the offset 4294967280, which is negative as a signed 32-bit number"},
    {"OffsetZero", withNumber(kTwo, 78, 0),
     "Record 1 starts at offset 0, so the byte before it lies outside the file"},
    // The first span is negative, so skipped; the second runs over both records.
    {"OffsetsInReverseOrder", withNumber(withNumber(kTwo, 78, 147), 86, 96), "", 1},
    // The second record starts inside the first: the first is cut there.
    {"OverlappingOffsets", withNumber(kTwo, 86, 110), "", 2},
    {"SameOffsetTwice", withNumber(kTwo, 86, 96), "", 1},
    {"NameWithoutItsTerminatingZero",
     concat({pdbHeader({.records = 1}), recordListEntry(88), Bytes{0, 0, 'P', 'M', 'r', 'c', 0x13, 0},
             bytesOf("NoTerminatorHere")}),
     "Record 1 (23 bytes at offset 88) has no 0x00 byte that ends its name"},
    // A stale offset that other writers leave behind: the block is taken as absent.
    {"AppInfoOffsetInsideTheRecordList", withNumber(kTwo, 52, 80), "", 2},
    // fuzz_ring_tone_database: the application info offset is the only record's, whose
    // span is too short to hold a ring tone. Kept as a block of no bytes, the block's
    // offset was written pointing at the end of the file, which would not load.
    {"EmptyApplicationInfoBlockAtTheOnlyRecord",
     concat({pdbHeader({.app = 87, .records = 1}), recordListEntry(87), Bytes{0}, bytesOf("PMrc")}), "", 0},
    {"NameWithPathSeparators", PdbBuilder().ringTone("../../etc/a\\b:c", midiFileOfSize(40)).build(), "", 1},
    {"NameThatIsDotDot", PdbBuilder().ringTone("..", midiFileOfSize(40)).build(), "", 1},
    {"NameOf248Bytes", PdbBuilder().ringTone(std::string(248, 'n'), bytesOf("data")).build(), "", 1},
    {"NameOf249Bytes", PdbBuilder().ringTone(std::string(249, 'n'), bytesOf("data")).build(), "", 1,
     "Ring tone 1: The ring tone name is 249 bytes long; a ring tone name holds at most 248 bytes."},
    {"TextFileInsteadOfADatabase", kTextFile,
     "The record list of 8289 entries runs past the end of the file (300 bytes)"},
};

class BadDatabaseInputs : public TempFolderTest, public WithParamInterface<BadDatabase> {};

TEST_P(BadDatabaseInputs, ShowsWhatIsWrongAndKeepsTheFile)
{
    const BadDatabase& row = GetParam();
    const fs::path db = writeFile("palm/MIDI_Ring_Tones.PDB", row.file);
    // "Load Current Ring Tones" writes the header snapshot (the header, the record list as
    // read and one 0x00) only when the file loads; chwr list shows the same.
    Result<RingToneDatabase> loaded = loadRingTones(db);
    const ProcessResult listed = chwr({"list", db.string()});
    const fs::path snapshot = home() / kHeaderSnapshotFileName;
    if (!row.loadMessage.empty()) {
        const std::string message =
            "The ring tone database \"" + db.string() + "\" is damaged: " + row.loadMessage;
        EXPECT_EQ(loaded.error(), message + ".");
        EXPECT_EQ(std::tie(listed.exitCode, listed.out, listed.err),
                  std::tuple(1, "", "chwr: " + message + ".\n"));
        EXPECT_FALSE(fs::exists(snapshot));
    } else {
        ASSERT_TRUE(loaded) << loaded.error();
        EXPECT_EQ(loaded->ringTones().size(), row.ringTones);
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), static_cast<long>(row.ringTones));
        const std::size_t records = readUint16BigEndian(row.file, 76).value();
        EXPECT_EQ(readFile(snapshot), concat({ByteView(row.file).first(78 + 8 * records), Bytes{0}}));
        // Written back as loaded, it loads again to the same ring tones.
        if (Result<Bytes> again = loaded->encode()) {
            EXPECT_EQ(RingToneDatabase::decode(*again).value().ringTones().size(), row.ringTones);
        }
        // Exported under the name offered for it: one file in the folder, whatever the name holds.
        if (row.ringTones > 0) {
            fs::create_directories(path("export"));
            const fs::path out = path("export") / exportFileName(loaded->ringTones()[0], path("export"));
            EXPECT_EQ(chwr({"export", db.string(), "1", out.string()}).exitCode, 0);
            EXPECT_THAT(listFolder(path("export")), ElementsAre(out.filename().string()));
        }
    }
    // chwr add writes the database: refused as a whole, or written with a backup.
    const fs::path song = writeFile("Song.mid", midiFileOfSize(100));
    const ProcessResult added = chwr({"add", db.string(), song.string(), "--no-install"});
    const std::string refusal = row.loadMessage + row.writeMessage;
    EXPECT_EQ(added.exitCode, refusal.empty() ? 0 : 1) << added.err;
    EXPECT_THAT(added.err, HasSubstr(refusal));
    if (refusal.empty()) {
        EXPECT_EQ(readFile(path("palm/MIDI_Ring_Tones.bak")), row.file);
        EXPECT_EQ(readRingToneDatabase(db).value().ringTones().size(), row.ringTones + 1);
    } else {
        EXPECT_EQ(readFile(db), row.file);
        EXPECT_THAT(listFolder(path("palm")), ElementsAre("MIDI_Ring_Tones.PDB"));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BadDatabaseInputs, ValuesIn(kBadDatabases),
                         [](const auto& info) { return info.param.name; });

// --- MIDI files ------------------------------------------------------------------------

// Refused with `message` (tracks < 0), or opened, its walk reading `tracks` tracks to
// their End of Track, which chwr modify writes, adding `message` when the walk stopped
// before the header's last track (empty: it did not).
struct BadMidi {
    std::string name;
    Bytes file;
    int tracks;
    std::string message = {};
    friend void PrintTo(const BadMidi& row, std::ostream* out) { *out << row.name; }
};

// One track: a program change, one note and the End of Track, after `first`.
Bytes oneTrackWith(const Bytes& first, int division = 480, int announced = -1, const Bytes& trailer = {})
{
    SmfBuilder smf(announced < 0 ? 0 : 1, division);
    smf.track().raw(first).programChange(0, 0, 5).noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(0);
    if (announced >= 0)
        smf.announceTracks(announced);
    return smf.trailer(trailer).build();
}

const std::string kEarly = "the source ends before its last track; 0 of 1 track(s) were written";

const BadMidi kBadMidiFiles[] = {
    {"TooShortForAHeader", cut(smfHeader(0, 1, 480), 13), -1,
     "The file is too short to be a Standard MIDI File (13 bytes)."},
    {"SmpteDivision", oneTrackWith({}, 0xE728), -1, "SMPTE time division is not supported"},
    {"ZeroDivision", oneTrackWith({}, 0), -1,
     "The MIDI file's division is 0 ticks per quarter note, which times nothing."},
    // The first track is read whatever the header announces.
    {"ZeroTracks", oneTrackWith({}, 480, 0), 1},
    {"MoreTracksAnnouncedThanPresent", oneTrackWith({}, 480, 3), 1,
     "the source ends before its last track; 1 of 3 track(s) were written"},
    {"OnlyTheHeader", smfHeader(0, 1, 480), 0, kEarly},
    {"CutInsideAnEvent", cut(oneTrackWith({}), 14 + 8 + 3 + 2), 0, kEarly},
    {"DeltaTimeOfFiveBytes", oneTrackWith({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100}), 0, kEarly},
    {"MetaLengthOfFiveBytes", oneTrackWith({0x00, 0xFF, 0x01, 0x81, 0x80, 0x80, 0x80, 0x00}), 0, kEarly},
    {"SystemExclusiveRunningPastTheEnd", cut(oneTrackWith({0x00, 0xF0, 0x7F, 0x7E, 0x01}), 14 + 8 + 5), 0,
     kEarly},
    {"SystemExclusiveWithoutItsF7", oneTrackWith({0x00, 0xF0, 0x02, 0x7E, 0x01}), 1},
    {"EscapeEvent", oneTrackWith({0x00, 0xF7, 0x01, 0xF8}), 1},
    // The header's id is not checked, nor a track's length: a track ends at its End of
    // Track. A chunk with another id is of another kind, and passed over.
    {"WrongHeaderChunkId", withText(oneTrackWith({}), 0, "RIFF"), 1},
    {"WrongTrackChunkId", withText(oneTrackWith({}), 14, "XTrk"), 0, kEarly},
    {"TrackLengthThatLies", withNumber(oneTrackWith({}), 18, 3), 1},
    {"DataByteWhereAStatusBelongs", oneTrackWith({0x00, 60, 100}), 0,
     "Unrecognized Event commandcount:1 Event: 60"},
    {"RingToneTrailerAfterTheLastTrack", oneTrackWith({}, 480, -1, bytesOf("@")), 1},
    {"TextFileInsteadOfASong", kTextFile, 0, "Unrecognized Event commandcount:1 Event: 32"},
    // The 64000-byte limit is the handheld's, for ring tones only.
    {"LargerThan64000Bytes", midiFileOfSize(64001), 1},
};

class BadMidiInputs : public TempFolderTest, public WithParamInterface<BadMidi> {};

TEST_P(BadMidiInputs, ShowsWhatIsWrongAndKeepsTheFile)
{
    const BadMidi& row = GetParam();
    const fs::path file = writeFile("in/song.mid", row.file);
    // "Open File" on the Modify MIDI tab, after another file was opened.
    ChannelTable table = ChannelTable::open().value();
    MidiEditState state;
    SmfBuilder earlier(0, 96);
    earlier.track().programChange(0, 3, 42).endOfTrack(0);
    ASSERT_TRUE(openMidiForEditing(writeFile("earlier.mid", earlier.build()), table, state));
    Result<MidiFileSummary> opened = openMidiForEditing(file, table, state);
    const ProcessResult info = chwr({"info", file.string()});
    const fs::path out = path("out/result.mid");
    fs::create_directories(out.parent_path());
    const ProcessResult modified = chwr({"modify", file.string(), out.string()});
    if (row.tracks < 0) {
        EXPECT_THAT(opened.error(), HasSubstr(row.message));
        EXPECT_EQ(std::tie(state.MidiSourcePath, table.rows()->at(3).Patch),
                  std::tuple(path("earlier.mid").string(), 42));
        for (const ProcessResult& run : {info, modified})
            EXPECT_THAT(std::tie(run.exitCode, run.err), FieldsAre(1, HasSubstr(row.message)));
        EXPECT_FALSE(fs::exists(out));
    } else {
        ASSERT_TRUE(opened) << opened.error();
        EXPECT_EQ(state.MidiSourcePath, file.string());
        EXPECT_EQ(std::tie(opened->tracksRead, opened->stoppedEarly),
                  std::tuple(row.tracks, !row.message.empty()));
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_EQ(info.out.find("Note: the walk stopped") != std::string::npos, !row.message.empty())
            << info.out;
        EXPECT_EQ(modified.exitCode, 0) << modified.err;
        EXPECT_THAT(modified.err, HasSubstr(row.message));
        EXPECT_EQ(modified.err.empty(), row.message.empty()) << modified.err;
        EXPECT_THAT(modified.out, HasSubstr(std::to_string(row.tracks) + " track(s))"));
        EXPECT_EQ(readMidiFile(out).value().tracksRead, row.tracks);
    }
    EXPECT_EQ(readFile(file), row.file);
    EXPECT_THAT(listFolder(path("in")), ElementsAre("song.mid"));
}

INSTANTIATE_TEST_SUITE_P(Table, BadMidiInputs, ValuesIn(kBadMidiFiles),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace chwr
