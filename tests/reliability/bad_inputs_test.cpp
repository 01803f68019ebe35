// The table of bad inputs: damaged ring tone databases and malformed MIDI files, each a
// named row. For each the test checks what the user sees (the message of the window's
// core call and of chwr) and what is kept (the input as it was, no output in its place).
// docs/RELIABILITY.md lists the same rows.

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_open.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"
#include "ringtone_db/ring_tone_files.h"
#include "tests/reliability/fault_steps.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::bytesOf;
using test::PdbBuilder;
using test::ProcessResult;
using test::SmfBuilder;
using test::TrackBuilder;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Where a record list entry starts, and its offset field.
std::size_t entryAt(std::size_t index)
{
    return kPdbHeaderSize + kRecordListEntrySize * index;
}

void putUint32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

std::uint32_t uint32At(const Bytes& bytes, std::size_t at)
{
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

// The header's record count is its last two bytes.
constexpr std::size_t kRecordCountAt = kPdbHeaderSize - 2;
// The header's application info offset.
constexpr std::size_t kAppInfoAt = 52;

// Two ring tones as the system writes them.
Bytes twoRingTones()
{
    return PdbBuilder()
        .ringTone("One", test::midiFileOfSize(40))
        .ringTone("Two", test::midiFileOfSize(50))
        .build();
}

Bytes cut(Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

Bytes withRecordCount(Bytes bytes, std::uint16_t count)
{
    bytes[kRecordCountAt] = static_cast<std::uint8_t>(count >> 8);
    bytes[kRecordCountAt + 1] = static_cast<std::uint8_t>(count);
    return bytes;
}

Bytes withOffset(Bytes bytes, std::size_t index, std::uint32_t offset)
{
    putUint32(bytes, entryAt(index), offset);
    return bytes;
}

Bytes withOffsetsSwapped(Bytes bytes)
{
    const std::uint32_t first = uint32At(bytes, entryAt(0));
    const std::uint32_t second = uint32At(bytes, entryAt(1));
    putUint32(bytes, entryAt(0), second);
    putUint32(bytes, entryAt(1), first);
    return bytes;
}

// One record whose name runs to the end of the file without a 0x00.
Bytes recordWithoutNameTerminator()
{
    test::PdbHeaderFields fields;
    fields.records = 1;
    Bytes file = test::pdbHeader(fields);
    const Bytes entry = test::recordListEntry(88);
    file.insert(file.end(), entry.begin(), entry.end());
    file.insert(file.end(), {0x00, 0x00, 'P', 'M', 'r', 'c', 0x13, 0x00});
    const Bytes name = bytesOf("NoTerminatorHere");
    file.insert(file.end(), name.begin(), name.end());
    return file;
}

Bytes textFile(std::size_t size)
{
    const std::string line = "This is a letter, not a ring tone database nor a song.\n";
    std::string text;
    while (text.size() < size)
        text += line;
    text.resize(size);
    return bytesOf(text);
}

class BadInputsTest : public test::TempFolderTest {
protected:
    static ProcessResult chwr(std::vector<std::string> args)
    {
        args.insert(args.begin(), CHWR_PROGRAM);
        return test::runProcess(args);
    }
};

// --- Ring tone databases ---------------------------------------------------------------

struct BadDatabase {
    std::string name;
    std::function<Bytes()> build;
    // A part of the message that refuses the load; empty when the file loads.
    std::string loadMessage;
    // The ring tones listed when it loads.
    std::size_t ringTones = 0;
    // A part of the message that refuses the next write; empty when it goes through.
    std::string writeMessage;
};

// A database the load refuses with this message.
BadDatabase refusedDatabase(std::string name, std::function<Bytes()> build, std::string message)
{
    return BadDatabase{std::move(name), std::move(build), std::move(message), 0, ""};
}

// A database that loads with this many ring tones; a write is refused with writeMessage
// when it is not empty.
BadDatabase loadedDatabase(std::string name, std::function<Bytes()> build, std::size_t ringTones,
                           std::string writeMessage = "")
{
    return BadDatabase{std::move(name), std::move(build), "", ringTones, std::move(writeMessage)};
}

const BadDatabase kBadDatabases[] = {
    refusedDatabase(
        "EmptyFile", [] { return Bytes{}; },
        "The file is shorter than a Palm database header: it has 0 bytes, the header alone 78"),
    refusedDatabase(
        "CutInsideTheHeader", [] { return cut(twoRingTones(), 77); }, "it has 77 bytes, the header alone 78"),
    refusedDatabase(
        "CutInsideTheRecordList", [] { return cut(twoRingTones(), entryAt(1) + 3); },
        "The record list of 2 entries runs past the end of the file (89 bytes)"),
    refusedDatabase(
        "CutBeforeTheLastRecord", [] { return cut(twoRingTones(), 147); },
        "Record 2 starts at offset 147, at or beyond the end of the file (147 bytes)"),
    loadedDatabase(
        "CutInsideTheLastRecord", [] { return cut(twoRingTones(), twoRingTones().size() - 20); }, 2),
    refusedDatabase(
        "RecordCountLargerThanTheFile", [] { return withRecordCount(twoRingTones(), 5000); },
        "The record list of 5000 entries runs past the end of the file"),
    refusedDatabase(
        "OffsetBeyondTheEnd", [] { return withOffset(twoRingTones(), 1, 100000); },
        "Record 2 starts at offset 100000, at or beyond the end of the file"),
    refusedDatabase(
        "OffsetNegativeAsASigned32BitNumber", [] { return withOffset(twoRingTones(), 0, 0xFFFFFFF0); },
        "Record 1 has the offset 4294967280, which is negative as a signed 32-bit number"),
    refusedDatabase(
        "OffsetZero", [] { return withOffset(twoRingTones(), 0, 0); },
        "Record 1 starts at offset 0, so the byte before it lies outside the file"),
    // The first span is negative, so skipped; the second runs over both records.
    loadedDatabase(
        "OffsetsInReverseOrder", [] { return withOffsetsSwapped(twoRingTones()); }, 1),
    // The second record starts inside the first: the first is cut there.
    loadedDatabase(
        "OverlappingOffsets", [] { return withOffset(twoRingTones(), 1, 110); }, 2),
    loadedDatabase(
        "SameOffsetTwice", [] { return withOffset(twoRingTones(), 1, 96); }, 1),
    refusedDatabase("NameWithoutItsTerminatingZero", recordWithoutNameTerminator,
                    "Record 1 (23 bytes at offset 88) has no 0x00 byte that ends its name"),
    loadedDatabase(
        "NameWithPathSeparators",
        [] { return PdbBuilder().ringTone("../../etc/a\\b:c", test::midiFileOfSize(40)).build(); }, 1),
    loadedDatabase(
        "NameOf248Bytes",
        [] { return PdbBuilder().ringTone(std::string(248, 'n'), bytesOf("data")).build(); }, 1),
    loadedDatabase(
        "NameOf249Bytes",
        [] { return PdbBuilder().ringTone(std::string(249, 'n'), bytesOf("data")).build(); }, 1,
        "Ring tone 1: The ring tone name is 249 bytes long; a ring tone name holds at most 248 bytes."),
    refusedDatabase(
        "AppInfoOffsetInsideTheRecordList",
        [] {
            Bytes file = twoRingTones();
            putUint32(file, kAppInfoAt, 80);
            return file;
        },
        "The application info offset 80 points into the header or record list (which end at 94)"),
    refusedDatabase(
        "TextFileInsteadOfADatabase", [] { return textFile(300); },
        "The record list of 8289 entries runs past the end of the file (300 bytes)"),
};

class BadDatabaseInputs : public BadInputsTest, public ::testing::WithParamInterface<BadDatabase> {
protected:
    fs::path database() const { return path("palm/MIDI_Ring_Tones.PDB"); }
};

TEST_P(BadDatabaseInputs, ShowsWhatIsWrongAndKeepsTheFile)
{
    const BadDatabase& row = GetParam();
    const Bytes original = row.build();
    writeFile("palm/MIDI_Ring_Tones.PDB", original);
    const fs::path snapshot = home() / kHeaderSnapshotFileName;

    // "Load Current Ring Tones".
    Result<RingToneDatabase> loaded = loadRingTones(database());
    ProcessResult listed = chwr({"list", database().string()});
    if (!row.loadMessage.empty()) {
        ASSERT_FALSE(loaded);
        EXPECT_THAT(loaded.error(),
                    HasSubstr("The ring tone database \"" + database().string() + "\" is damaged: "));
        EXPECT_THAT(loaded.error(), HasSubstr(row.loadMessage));
        EXPECT_FALSE(fs::exists(snapshot));
        EXPECT_EQ(listed.exitCode, 1);
        EXPECT_THAT(listed.err, HasSubstr(row.loadMessage));
        EXPECT_THAT(listed.out, IsEmpty());
    } else {
        ASSERT_TRUE(loaded) << loaded.error();
        EXPECT_EQ(loaded->ringTones().size(), row.ringTones);
        EXPECT_TRUE(fs::exists(snapshot));
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), static_cast<long>(row.ringTones));
    }

    // Adding a ring tone writes the database: refused as a whole, or written with a backup.
    const fs::path song = writeFile("Song.mid", test::midiFileOfSize(100));
    ProcessResult added = chwr({"add", database().string(), song.string(), "--no-install"});
    const std::string refusal = !row.loadMessage.empty() ? row.loadMessage : row.writeMessage;
    if (!refusal.empty()) {
        EXPECT_EQ(added.exitCode, 1);
        EXPECT_THAT(added.err, HasSubstr(refusal));
        EXPECT_EQ(readFile(database()), original);
        EXPECT_THAT(listFolder(path("palm")), ::testing::ElementsAre("MIDI_Ring_Tones.PDB"));
    } else {
        EXPECT_EQ(added.exitCode, 0) << added.err;
        EXPECT_EQ(readFile(path("palm/MIDI_Ring_Tones.bak")), original);
        Result<RingToneDatabase> written = readRingToneDatabase(database());
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(written->ringTones().size(), row.ringTones + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BadDatabaseInputs, ::testing::ValuesIn(kBadDatabases),
                         [](const ::testing::TestParamInfo<BadDatabase>& info) { return info.param.name; });

TEST_F(BadInputsTest, ADatabaseCutAtEveryByteIsRefusedOrKeepsItsWholeRecords)
{
    const Bytes whole = PdbBuilder()
                            .ringTone("First", test::midiFileOfSize(40))
                            .ringTone("", bytesOf("x"))
                            .ringTone("Third", test::midiFileOfSize(35))
                            .build();
    const std::vector<RingToneRecord> tones = RingToneDatabase::decode(whole)->ringTones();
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        SCOPED_TRACE("cut at " + std::to_string(size) + " of " + std::to_string(whole.size()));
        Result<RingToneDatabase> decoded = RingToneDatabase::decode(ByteView(whole).first(size));
        if (!decoded) {
            EXPECT_THAT(decoded.error(), Not(IsEmpty()));
            continue;
        }
        // A cut file loads only once every record starts inside it; then all but the last
        // are whole, and the last is cut short or, with 6 bytes or fewer left, skipped.
        const std::vector<RingToneRecord>& read = decoded->ringTones();
        ASSERT_GE(read.size() + 1, tones.size());
        for (std::size_t i = 0; i + 1 < tones.size(); ++i) {
            EXPECT_EQ(read[i].name, tones[i].name);
            EXPECT_EQ(read[i].data, tones[i].data);
        }
        if (read.size() == tones.size()) {
            EXPECT_EQ(read.back().name, tones.back().name);
            ASSERT_LE(read.back().data.size(), tones.back().data.size());
            EXPECT_TRUE(
                std::equal(read.back().data.begin(), read.back().data.end(), tones.back().data.begin()));
        }
    }
}

TEST_F(BadInputsTest, NamesWithPathSeparatorsAreExportedInsideTheFolder)
{
    const Bytes file = PdbBuilder()
                           .ringTone("../../escape", bytesOf("1"))
                           .ringTone("a/b\\c", bytesOf("2"))
                           .ringTone("..", bytesOf("3"))
                           .ringTone("", bytesOf("4"))
                           .build();
    Result<RingToneDatabase> database = RingToneDatabase::decode(file);
    ASSERT_TRUE(database);
    fs::create_directories(path("export"));
    for (const RingToneRecord& tone : database->ringTones()) {
        const std::string name = exportFileName(tone, path("export"));
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_EQ(name.find('\\'), std::string::npos);
        EXPECT_NE(name, "..");
        EXPECT_EQ((path("export") / name).parent_path(), path("export"));
    }
    // Each separator becomes "_".
    EXPECT_EQ(exportFileName(database->ringTones()[1], path("export")), "a_b_c.mid");
    const fs::path db = writeFile("MIDI_Ring_Tones.PDB", file);
    ProcessResult run =
        chwr({"export", db.string(), "1",
              (path("export") / exportFileName(database->ringTones()[0], path("export"))).string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(listFolder(path("export")).size(), 1u);
    EXPECT_FALSE(fs::exists(folder().parent_path() / "escape.mid"));
}

TEST_F(BadInputsTest, ANameLongerThan248BytesIsRefusedBeforeAnyWrite)
{
    const Bytes original = PdbBuilder().ringTone("One", bytesOf("1")).build();
    const fs::path db = writeFile("palm/MIDI_Ring_Tones.PDB", original);
    const fs::path song = writeFile("Song.mid", test::midiFileOfSize(60));
    const std::string message =
        "The ring tone name is 249 bytes long; a ring tone name holds at most 248 bytes.";

    ProcessResult renamed = chwr({"rename", db.string(), "1", std::string(249, 'n'), "--no-install"});
    EXPECT_EQ(renamed.exitCode, 1);
    EXPECT_THAT(renamed.err, HasSubstr(message));
    ProcessResult added =
        chwr({"add", db.string(), song.string(), "--name", std::string(249, 'n'), "--no-install"});
    EXPECT_EQ(added.exitCode, 1);
    EXPECT_THAT(added.err, HasSubstr(message));
    EXPECT_EQ(readFile(db), original);
    EXPECT_THAT(listFolder(path("palm")), ::testing::ElementsAre("MIDI_Ring_Tones.PDB"));

    ProcessResult fits = chwr({"rename", db.string(), "1", std::string(248, 'n'), "--no-install"});
    EXPECT_EQ(fits.exitCode, 0) << fits.err;
}

TEST_F(BadInputsTest, AMidiFileOver64000BytesIsNotAdded)
{
    const Bytes original = PdbBuilder().ringTone("One", bytesOf("1")).build();
    const fs::path db = writeFile("palm/MIDI_Ring_Tones.PDB", original);
    const fs::path tooBig = writeFile("Too Big.mid", test::midiFileOfSize(kMaxMidiFileBytes + 1));
    const fs::path fits = writeFile("Fits.mid", test::midiFileOfSize(kMaxMidiFileBytes));

    Result<RingToneDatabase> database = readRingToneDatabase(db);
    ASSERT_TRUE(database);
    Result<std::size_t> refused = addMidiFile(*database, tooBig);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), kMidiFileTooLargeMessage);
    EXPECT_EQ(database->ringTones().size(), 1u);

    // chwr refuses the whole command: the file that fits is not added either.
    ProcessResult run = chwr({"add", db.string(), fits.string(), tooBig.string(), "--no-install"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr(kMidiFileTooLargeMessage));
    EXPECT_EQ(readFile(db), original);
    EXPECT_THAT(listFolder(path("palm")), ::testing::ElementsAre("MIDI_Ring_Tones.PDB"));

    // The editor has no such limit: the file opens and its information shows.
    ProcessResult info = chwr({"info", tooBig.string()});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_THAT(info.out, HasSubstr("Size: 64001 bytes"));
}

// --- MIDI files ------------------------------------------------------------------------

struct BadMidi {
    std::string name;
    std::function<Bytes()> build;
    // A part of the message that refuses the file; empty when it opens.
    std::string refusal;
    // When it opens: the tracks the walk reads to their End of Track, and whether it
    // stopped before the header's last track.
    int tracksRead = 0;
    bool stoppedEarly = false;
    // What chwr modify adds on standard error (empty: nothing), and the tracks it writes.
    std::string modifyNotice;
    int tracksWritten = 0;
};

// One track: a program change, one note and the End of Track.
TrackBuilder& oneNote(TrackBuilder& track)
{
    return track.programChange(0, 0, 5).noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(0);
}

Bytes songOf(int format, int division, const std::function<void(SmfBuilder&)>& fill)
{
    SmfBuilder smf(format, division);
    fill(smf);
    return smf.build();
}

Bytes oneTrackWith(const Bytes& firstEvents)
{
    return songOf(0, 480, [&](SmfBuilder& smf) { oneNote(smf.track().raw(firstEvents)); });
}

Bytes withBytesAt(Bytes bytes, std::size_t at, const std::string& text)
{
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

const std::string kEndedEarly = "the source ends before its last track; ";

// A file the open refuses with this message.
BadMidi refusedMidi(std::string name, std::function<Bytes()> build, std::string message)
{
    return BadMidi{std::move(name), std::move(build), std::move(message), 0, false, "", 0};
}

// A file that opens: the walk reads tracksRead tracks; chwr modify writes tracksWritten
// and adds notice on standard error (nothing when it is empty).
BadMidi openedMidi(std::string name, std::function<Bytes()> build, int tracksRead, bool stoppedEarly,
                   std::string notice, int tracksWritten)
{
    return BadMidi{std::move(name), std::move(build),  "",           tracksRead,
                   stoppedEarly,    std::move(notice), tracksWritten};
}

// A file read to its end, one track written.
BadMidi wholeMidi(std::string name, std::function<Bytes()> build)
{
    return openedMidi(std::move(name), std::move(build), 1, false, "", 1);
}

// A file whose one track the walk cannot finish: nothing but the header is written.
BadMidi unfinishedMidi(std::string name, std::function<Bytes()> build)
{
    return openedMidi(std::move(name), std::move(build), 0, true, kEndedEarly + "0 of 1 track(s)", 0);
}

const BadMidi kBadMidiFiles[] = {
    refusedMidi(
        "TooShortForAHeader", [] { return cut(test::smfHeader(0, 1, 480), 13); },
        "The file is too short to be a Standard MIDI File (13 bytes)."),
    refusedMidi(
        "SmpteDivision", [] { return songOf(0, 0xE728, [](SmfBuilder& smf) { oneNote(smf.track()); }); },
        "SMPTE time division is not supported"),
    refusedMidi(
        "ZeroDivision", [] { return songOf(0, 0, [](SmfBuilder& smf) { oneNote(smf.track()); }); },
        "The MIDI file's division is 0 ticks per quarter note, which times nothing."),
    // The first track is read whatever the header announces.
    wholeMidi("ZeroTracks",
              [] {
                  return songOf(1, 480, [](SmfBuilder& smf) {
                      smf.announceTracks(0);
                      oneNote(smf.track());
                  });
              }),
    openedMidi(
        "MoreTracksAnnouncedThanPresent",
        [] {
            return songOf(1, 480, [](SmfBuilder& smf) {
                smf.announceTracks(3);
                oneNote(smf.track());
            });
        },
        1, true, kEndedEarly + "1 of 3 track(s) were written", 1),
    unfinishedMidi("OnlyTheHeader", [] { return test::smfHeader(0, 1, 480); }),
    unfinishedMidi("CutInsideAnEvent", [] { return cut(oneTrackWith({}), 14 + 8 + 3 + 2); }),
    unfinishedMidi("DeltaTimeOfFiveBytes",
                   [] {
                       return oneTrackWith({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100});
                   }),
    unfinishedMidi("MetaLengthOfFiveBytes",
                   [] {
                       return oneTrackWith({0x00, 0xFF, 0x01, 0x81, 0x80, 0x80, 0x80, 0x00});
                   }),
    unfinishedMidi("SystemExclusiveRunningPastTheEnd",
                   [] {
                       return cut(oneTrackWith({0x00, 0xF0, 0x7F, 0x7E, 0x01}), 14 + 8 + 5);
                   }),
    wholeMidi("SystemExclusiveWithoutItsF7",
              [] {
                  return oneTrackWith({0x00, 0xF0, 0x02, 0x7E, 0x01});
              }),
    wholeMidi("EscapeEvent",
              [] {
                  return oneTrackWith({0x00, 0xF7, 0x01, 0xF8});
              }),
    // Chunk ids and track lengths are not checked: a track ends at its End of Track.
    wholeMidi("WrongHeaderChunkId", [] { return withBytesAt(oneTrackWith({}), 0, "RIFF"); }),
    wholeMidi("WrongTrackChunkId", [] { return withBytesAt(oneTrackWith({}), 14, "XTrk"); }),
    wholeMidi("TrackLengthThatLies",
              [] {
                  return songOf(0, 480, [](SmfBuilder& smf) {
                      oneNote(smf.track());
                      smf.claimLengthOfLastTrack(3);
                  });
              }),
    openedMidi(
        "DataByteWhereAStatusBelongs",
        [] {
            return oneTrackWith({0x00, 60, 100});
        },
        0, true, "Unrecognized Event commandcount:1 Event: 60", 0),
    wholeMidi("RingToneTrailerAfterTheLastTrack",
              [] {
                  return songOf(0, 480, [](SmfBuilder& smf) {
                      oneNote(smf.track());
                      smf.trailer(bytesOf("@"));
                  });
              }),
    openedMidi(
        "TextFileInsteadOfASong", [] { return textFile(300); }, 0, true,
        "Unrecognized Event commandcount:1 Event: 32", 0),
};

class BadMidiInputs : public BadInputsTest, public ::testing::WithParamInterface<BadMidi> {};

TEST_P(BadMidiInputs, ShowsWhatIsWrongAndKeepsTheFile)
{
    const BadMidi& row = GetParam();
    const Bytes original = row.build();
    const fs::path file = writeFile("in/song.mid", original);

    // "Open File" on the Modify MIDI tab, after another file was opened.
    Result<ChannelTable> table = ChannelTable::open();
    ASSERT_TRUE(table) << table.error();
    MidiEditState state;
    const fs::path earlier =
        writeFile("earlier.mid",
                  songOf(0, 96, [](SmfBuilder& smf) { smf.track().programChange(0, 3, 42).endOfTrack(0); }));
    ASSERT_TRUE(openMidiForEditing(earlier, *table, state));
    Result<MidiFileSummary> opened = openMidiForEditing(file, *table, state);

    ProcessResult info = chwr({"info", file.string()});
    const fs::path out = path("out/result.mid");
    fs::create_directories(out.parent_path());
    ProcessResult modified = chwr({"modify", file.string(), out.string()});

    if (!row.refusal.empty()) {
        ASSERT_FALSE(opened);
        EXPECT_THAT(opened.error(), HasSubstr(row.refusal));
        EXPECT_EQ(state.MidiSourcePath, earlier.string());
        EXPECT_EQ(table->rows()->at(3).Patch, 42);
        EXPECT_EQ(info.exitCode, 1);
        EXPECT_THAT(info.err, HasSubstr(row.refusal));
        EXPECT_EQ(modified.exitCode, 1);
        EXPECT_THAT(modified.err, HasSubstr(row.refusal));
        EXPECT_THAT(listFolder(path("out")), IsEmpty());
    } else {
        ASSERT_TRUE(opened) << opened.error();
        EXPECT_EQ(state.MidiSourcePath, file.string());
        EXPECT_EQ(opened->tracksRead, row.tracksRead);
        EXPECT_EQ(opened->stoppedEarly, row.stoppedEarly);
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_EQ(info.out.find("Note: the walk stopped") != std::string::npos, row.stoppedEarly) << info.out;
        EXPECT_EQ(modified.exitCode, 0) << modified.err;
        if (row.modifyNotice.empty())
            EXPECT_THAT(modified.err, IsEmpty());
        else
            EXPECT_THAT(modified.err, HasSubstr(row.modifyNotice));
        EXPECT_THAT(modified.out, HasSubstr(std::to_string(row.tracksWritten) + " track(s))"));
        Result<MidiFileSummary> result = readMidiFile(out);
        ASSERT_TRUE(result) << result.error();
        EXPECT_EQ(result->tracksRead, row.tracksWritten);
    }
    EXPECT_EQ(readFile(file), original);
    EXPECT_THAT(listFolder(path("in")), ::testing::ElementsAre("song.mid"));
}

INSTANTIATE_TEST_SUITE_P(Table, BadMidiInputs, ::testing::ValuesIn(kBadMidiFiles),
                         [](const ::testing::TestParamInfo<BadMidi>& info) { return info.param.name; });

// A song that uses every kind of event, cut after each of its bytes.
TEST_F(BadInputsTest, AMidiFileCutAtEveryByteEndsTheWalkQuietly)
{
    const Bytes whole = songOf(1, 480, [](SmfBuilder& smf) {
        smf.track().tempo(0, 600000).text(0, "cut").endOfTrack(960);
        smf.track()
            .runningStatus(true)
            .programChange(0, 0, 10)
            .controlChange(0, 0, 7, 100)
            .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
            .noteOn(0, 0, 60, 100)
            .noteOn(200, 0, 60, 0)
            .dataOnly(0, {64, 90})
            .pitchBend(100, 0, 0x2100)
            .noteOff(200, 0, 64)
            .endOfTrack(0);
        smf.track().programChange(0, 9, 0).noteOn(0x4000, 9, 36, 80).noteOff(10, 9, 36).endOfTrack(0);
    });
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        SCOPED_TRACE("cut at " + std::to_string(size) + " of " + std::to_string(whole.size()));
        const ByteView source = ByteView(whole).first(size);
        Result<MidiFileSummary> summary = readMidiFile(source);
        if (size < smf::kHeaderChunkSize) {
            ASSERT_FALSE(summary);
            EXPECT_THAT(summary.error(), HasSubstr("too short to be a Standard MIDI File"));
            continue;
        }
        ASSERT_TRUE(summary) << summary.error();
        EXPECT_EQ(summary->stoppedEarly, size < whole.size());

        // The rewrite of the cut file writes exactly the tracks the walk finished.
        RewriteSettings settings;
        settings.marks = Marks{0, static_cast<double>(summary->lengthMilliseconds)};
        Bytes result;
        Result<RewriteResult> rewritten =
            rewriteMidi(source, *summary, settings, [&](ByteView bytes) -> Result<void> {
                result.insert(result.end(), bytes.begin(), bytes.end());
                return {};
            });
        ASSERT_TRUE(rewritten) << rewritten.error();
        EXPECT_EQ(rewritten->tracksWritten, summary->tracksRead);
        EXPECT_EQ(rewritten->sourceEndedEarly, size < whole.size());
        EXPECT_EQ(readMidiFile(result)->tracksRead, summary->tracksRead);
    }
}

} // namespace
} // namespace chwr
