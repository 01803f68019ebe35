// Writes of the ring tone database that other writers, links, odd files and databases
// left by other programs could spoil.

#include "ringtone_db/ring_tone_files.h"
#include "ringtone_db/standard_midi_file.h"

#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <future>
#include <sys/stat.h>
#include <thread>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::bytesOf;
using test::concat;
using test::midiFileOfSize;
using test::ProcessResult;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class DatabaseSafetyTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        writeFile("palm/MIDI_Ring_Tones.PDB", m_original);
        m_songFile = writeFile("Song.mid", midiFileOfSize(200)).string();
    }
    static ProcessResult chwr(std::vector<std::string> args) { return test::runChwr(std::move(args)); }
    ProcessResult add(const std::string& song) { return chwr({"add", db().string(), song, "--no-install"}); }
    // The database as loaded, with Song.mid added.
    RingToneDatabase withSong(LoadedFileIdentity* loaded = nullptr)
    {
        RingToneDatabase database = loadRingTones(db(), loaded).value();
        EXPECT_TRUE(addMidiFile(database, m_songFile));
        return database;
    }
    fs::path db() const { return path("palm/MIDI_Ring_Tones.PDB"); }
    fs::path backup() const { return path("palm/MIDI_Ring_Tones.bak"); }
    std::size_t ringTonesIn(const fs::path& file) const
    {
        return readRingToneDatabase(file).value().ringTones().size();
    }
    static mode_t modeOf(const fs::path& file)
    {
        struct stat info {};
        EXPECT_EQ(::stat(file.c_str(), &info), 0);
        return info.st_mode & 07777;
    }

    const Bytes m_original = test::PdbBuilder().modnumber(5).ringTone("One", midiFileOfSize(60)).build();
    std::string m_songFile;
};

TEST_F(DatabaseSafetyTest, TwoChwrAddsAtOnceBothLand)
{
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        auto first = std::async(std::launch::async, [&] { return add(m_songFile); });
        EXPECT_EQ(add(m_songFile).exitCode, 0);
        EXPECT_EQ(first.get().exitCode, 0);
    }
    RingToneDatabase written = readRingToneDatabase(db()).value();
    EXPECT_EQ(written.ringTones().size(), 1u + 2 * kRounds);
    EXPECT_EQ(written.header().modificationNumber(), 5u + 2 * kRounds);
    EXPECT_THAT(listFolder(path("palm")), ElementsAre("MIDI_Ring_Tones.PDB", "MIDI_Ring_Tones.bak"));
}

TEST_F(DatabaseSafetyTest, ASecondWriterWaitsForTheFirstThenIsRefused)
{
    RingToneDatabase database = withSong();
    Result<FolderLock> held = lockRingToneDatabase(db());
    ASSERT_TRUE(held) << held.error();
    UpdateGuard guard;
    guard.lockWait = std::chrono::milliseconds(100);
    EXPECT_EQ(updateRingTones(database, db(), backup(), nullptr, std::move(guard)).error(),
              kDatabaseBusyMessage);
    EXPECT_EQ(readFile(db()), m_original);
    EXPECT_FALSE(fs::exists(backup()));
    // chwr waits while another writer holds the lock a moment, then writes.
    std::thread release([lock = std::move(held).value()]() mutable {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        FolderLock done = std::move(lock);
    });
    const ProcessResult run = add(m_songFile);
    release.join();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ringTonesIn(db()), 2u);
}

TEST_F(DatabaseSafetyTest, AnUpdateRefusesADatabaseChangedSinceItWasLoaded)
{
    LoadedFileIdentity loaded;
    RingToneDatabase database = withSong(&loaded);
    EXPECT_EQ(loaded.path, fs::canonical(db()));
    Result<UpdateOutcome> first = updateRingTones(database, db(), backup(), nullptr, {loaded});
    ASSERT_TRUE(first) << first.error();
    const Bytes written = readFile(db());
    // Another program writes the database: the next update is refused, nothing written.
    ASSERT_EQ(add(m_songFile).exitCode, 0);
    const Bytes theirs = readFile(db());
    EXPECT_EQ(updateRingTones(database, db(), backup(), nullptr, {first->written}).error(),
              kDatabaseChangedMessage);
    EXPECT_EQ(std::tuple(readFile(db()), readFile(backup())), std::tuple(theirs, written));
    EXPECT_THAT(updateRingTones(database, path("palm/Other.PDB"), backup(), nullptr, {loaded}).error(),
                HasSubstr("The ring tones were loaded from \"" + loaded.path.string() + "\""));
}

TEST_F(DatabaseSafetyTest, ADatabaseThroughALinkIsWrittenWhereItPointsWithItsMode)
{
    ::chmod(db().c_str(), 0640);
    fs::create_directories(path("link"));
    fs::create_symlink(db(), path("link/MIDI_Ring_Tones.PDB"));
    const ProcessResult run =
        chwr({"add", path("link/MIDI_Ring_Tones.PDB").string(), m_songFile, "--no-install"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(path("link/MIDI_Ring_Tones.PDB")));
    EXPECT_EQ(ringTonesIn(db()), 2u);
    EXPECT_EQ(readFile(backup()), m_original);
    EXPECT_EQ(std::tuple(modeOf(db()), modeOf(backup())), std::tuple(0640u, 0640u));
    EXPECT_THAT(listFolder(path("link")), ElementsAre("MIDI_Ring_Tones.PDB"));
}

TEST_F(DatabaseSafetyTest, ADatabaseWithAnotherNameIsNotWrittenButOneLeftWithItsBackupIs)
{
    fs::create_hard_link(db(), path("elsewhere.PDB"));
    const ProcessResult run = add(m_songFile);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("has 1 other name(s) on the disk (hard links)"));
    EXPECT_EQ(readFile(db()), m_original);
    EXPECT_THAT(listFolder(path("palm")), ElementsAre("MIDI_Ring_Tones.PDB"));
    // A write that stopped between its renames leaves the backup a second name: fine.
    fs::remove(path("elsewhere.PDB"));
    fs::create_hard_link(db(), backup());
    EXPECT_EQ(add(m_songFile).exitCode, 0);
    EXPECT_EQ(ringTonesIn(db()), 2u);
    EXPECT_EQ(readFile(backup()), m_original);
}

TEST_F(DatabaseSafetyTest, AnExportOverTheDatabaseIsRefusedAndAModifyOverItsSourceIsNot)
{
    fs::create_symlink(db(), path("link.PDB"));
    const ProcessResult run = chwr({"export", db().string(), "1", path("link.PDB").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "chwr: \"" + path("link.PDB").string() +
                  "\" is the ring tone database itself; nothing was written. Choose another file.\n");
    EXPECT_EQ(readFile(db()), m_original);
    const ProcessResult modify = chwr({"modify", m_songFile, m_songFile, "--adjust", "1:velocity=1"});
    EXPECT_EQ(modify.exitCode, 0) << modify.err;
    EXPECT_THAT(asString(readFile(m_songFile)), ::testing::StartsWith("MThd"));
    EXPECT_THAT(listFolder(folder()), ::testing::Each(::testing::Not(::testing::StartsWith(".chwr-"))));
}

TEST_F(DatabaseSafetyTest, OnlyAStandardMidiFileBecomesARingTone)
{
    auto littleEndian = [](std::size_t n) {
        return Bytes{std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16), std::uint8_t(n >> 24)};
    };
    auto riff = [&](const Bytes& song, const Bytes& before = {}, const char* kind = "RMID") {
        Bytes chunks =
            song.empty() ? before : concat({before, bytesOf("data"), littleEndian(song.size()), song});
        if (song.size() % 2)
            chunks.push_back(0);
        return concat({bytesOf("RIFF"), littleEndian(chunks.size() + 4), bytesOf(kind), chunks});
    };
    const Bytes smf = midiFileOfSize(100), big = midiFileOfSize(64000);
    const Bytes info = concat({bytesOf("LIST"), littleEndian(3), bytesOf("abc"), Bytes{0}});
    const Bytes header = concat({bytesOf("MThd"), Bytes{0, 0, 0, 6, 0, 0, 0, 1, 1, 0xE0}});
    const Bytes wrapped = riff(smf);
    const std::string notSmf = kNotStandardMidiFileMessage, tooLarge = kMidiFileTooLargeMessage;
    struct Case {
        const char* what;
        Bytes file;
        std::string error; // empty: added, its data `song` plus "@"
        Bytes song = {};
    } const cases[] = {
        {"a Standard MIDI File", smf, "", smf},
        {"its header alone", header, "", header},
        {"13 bytes", Bytes(header.begin(), header.end() - 1), notSmf},
        {"a header length of 5", concat({bytesOf("MThd"), Bytes{0, 0, 0, 5}, Bytes(6, 0)}), notSmf},
        {"text", bytesOf("This is a text file, not a song at all."), notSmf},
        {"an empty file", {}, notSmf},
        {"text over 64000 bytes", Bytes(64001, 'x'), tooLarge},
        {"a RIFF MIDI file", riff(smf, info), "", smf},
        {"a RIFF MIDI file over 64000 bytes round a song of 64000", riff(big, info), "", big},
        {"a RIFF MIDI file round a song over 64000", riff(midiFileOfSize(64001)), tooLarge},
        {"a RIFF MIDI file without its data chunk", riff({}, info), notSmf},
        {"a RIFF MIDI file round text", riff(bytesOf("text")), notSmf},
        {"a RIFF MIDI file cut short", Bytes(wrapped.begin(), wrapped.end() - 10), notSmf},
        {"a RIFF WAVE file", riff({}, {}, "WAVE"), notSmf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RingToneDatabase database = readRingToneDatabase(db()).value();
        Result<std::size_t> added = addMidiFile(database, writeFile("in/file.mid", c.file));
        if (!c.error.empty()) {
            EXPECT_EQ(std::tuple(added.error(), database.ringTones().size()), std::tuple(c.error, 1u));
        } else {
            ASSERT_TRUE(added) << added.error();
            const ByteView data = database.ringTones()[*added].midiData();
            EXPECT_EQ(Bytes(data.begin(), data.end()), concat({c.song, Bytes{AddedMark}}));
        }
    }
    const ProcessResult run = add(writeFile("in/text.mid", bytesOf("no song")).string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "chwr: " + path("in/text.mid").string() + ": This file is not a Standard MIDI File.\n");
    EXPECT_EQ(readFile(db()), m_original);
    EXPECT_THAT(listFolder(path("palm")), ElementsAre("MIDI_Ring_Tones.PDB"));
}

TEST_F(DatabaseSafetyTest, StaleInfoOffsetsAreTakenAsAbsentAndNotWrittenAgain)
{
    // Two ring tones as the system writes them, records at 96 and 136, the info offsets
    // pointing into the header or the record list as other writers leave them.
    const Bytes tone = midiFileOfSize(31);
    const Bytes records =
        concat({Bytes{0, 0}, test::toneRecord("A", tone), Bytes{0}, test::toneRecord("B", tone)});
    const std::pair<std::uint32_t, std::uint32_t> offsets[] = {{40, 0}, {80, 0}, {0, 90}, {93, 78}};
    for (const auto& [app, sort] : offsets) {
        SCOPED_TRACE(std::to_string(app) + " " + std::to_string(sort));
        const test::PdbHeaderFields fields{.app = app, .sort = sort, .records = 2};
        Result<RingToneDatabase> database = RingToneDatabase::decode(concat(
            {test::pdbHeader(fields), test::recordListEntry(96), test::recordListEntry(136), records}));
        ASSERT_TRUE(database) << database.error();
        EXPECT_EQ(database->ringTones().size(), 2u);
        EXPECT_FALSE(database->appInfo() || database->sortInfo());
        const RingToneDatabase again = RingToneDatabase::decode(database->encode().value()).value();
        EXPECT_EQ(again.header().appInfoOffset() + again.header().sortInfoOffset(), 0u);
        EXPECT_EQ(again.ringTones().size(), 2u);
    }
}

} // namespace
} // namespace chwr
