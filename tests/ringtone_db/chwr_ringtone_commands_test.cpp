// chwr's ring tone commands run as a user runs them: what they print, their exit status
// (0 done, 1 refused or failed, 2 bad usage) and the database they leave, byte for byte;
// and the writes that other writers, links and odd files could spoil.

#include "ringtone_db/ring_tone_files.h"
#include "ringtone_db/standard_midi_file.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <future>
#include <gmock/gmock.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace ::testing;

class ChwrRingToneCommandsTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        writeFile("palm/MIDI_Ring_Tones.PDB", m_original);
        m_songFile = writeFile("Song.mid", midiFileOfSize(200)).string();
    }
    static ProcessResult chwr(std::vector<std::string> args) { return runChwr(std::move(args)); }
    ProcessResult add(const std::string& song) { return chwr({"add", db(), song, "--no-install"}); }
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

    const Bytes m_original = pdb({{"Chime", "MThd-chime"}, {"Caf\xE9", "MThd-cafe@"}}, 41);
    std::string m_songFile;
};

TEST_F(ChwrRingToneCommandsTest, ListPrintsTabSeparatedLinesOrJson)
{
    EXPECT_THAT(chwr({"list", db()}), FieldsAre(0, "1\tChime\t10\t\n2\tCaf\xC3\xA9\t10\tx\n", ""));
    const ProcessResult run = chwr({"list", db(), "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::ordered_json::parse(run.out),
              nlohmann::ordered_json::parse(R"({"records": 2, "modnumber": 41, "ringtones": [
                  {"index": 1, "name": "Chime", "size": 10, "added": false},
                  {"index": 2, "name": "Café", "size": 10, "added": true}]})"));
    // Names exactly as JSON strings; in lines, control characters become spaces.
    writeFile("palm/MIDI_Ring_Tones.PDB", pdb({{"a\"b\\c\td\x7F", "@m"}}, 1));
    EXPECT_EQ(nlohmann::json::parse(chwr({"list", db(), "--json"}).out)["ringtones"][0]["name"],
              "a\"b\\c\td\x7F");
    EXPECT_EQ(chwr({"list", db()}).out, "1\ta\"b\\c d \t2\t\n");
}

TEST_F(ChwrRingToneCommandsTest, AddWritesTheRingTonesAndPrintsTheirNames)
{
    const Bytes midi = midiFileOfSize(64000); // the largest that is taken
    const std::string chime = writeFile("in/Chime.mid", midi).string();
    const std::string other = writeFile("in/Other (2).mid", midi).string();
    EXPECT_THAT(chwr({"add", db(), chime, other, chime, "--no-install"}),
                FieldsAre(0, "Chime (1)\nOther\nChime (2)\n", ""));
    EXPECT_EQ(ringTonesIn(db()), 5u);
    // --name gives the stem, made unique; UTF-8 becomes Windows-1252, "?" where it cannot.
    EXPECT_THAT(chwr({"add", db(), other, "--name", "Chime (7).mid", "--no-install"}),
                FieldsAre(0, "Chime (3)\n", ""));
    EXPECT_THAT(chwr({"add", db(), other, "--name=Caf\xC3\xA9 \xE2\x99\xAB", "--no-install"}),
                FieldsAre(0, "Caf\xC3\xA9 ?\n", ""));
}

TEST_F(ChwrRingToneCommandsTest, RemoveAndRenameDoWhatTheySay)
{
    // A new name is taken as given: no stem is made of it.
    EXPECT_THAT(chwr({"rename", db(), "1", "Bell (2).mid", "--no-install"}), FieldsAre(0, "", ""));
    EXPECT_EQ(chwr({"remove", db(), "2", "--no-install"}).exitCode, 0);
    EXPECT_EQ(readFile(db()), pdb({{"Bell (2).mid", "MThd-chime"}}, 43));
    EXPECT_EQ(chwr({"remove", db(), "1", "--no-install"}).exitCode, 0);
    EXPECT_EQ(chwr({"remove", db(), "1"}).err,
              "chwr: There is no ring tone 1: the database holds no ring tones.\n");
}

TEST_F(ChwrRingToneCommandsTest, RefusalsExitWithOneOrTwoAndLeaveTheDatabaseAsItWas)
{
    const std::string song = writeFile("in/song.mid", midiFileOfSize(40)).string();
    const std::string large = writeFile("in/Large.mid", midiFileOfSize(64001)).string();
    const std::string text = writeFile("in/text.mid", bytesOf("no song")).string();
    const std::string out = path("out.mid").string(), none = path("none").string();
    // A database that would be its own backup, and one of 2^31 bytes (sparse), refused unread.
    const std::string own = writeFile("other/tones.bak", m_original).string();
    const std::string huge = writeFile("other/huge.PDB", {}).string();
    fs::resize_file(huge, std::uintmax_t{1} << 31);
    const std::string link = path("link.PDB").string(); // the database, for an export over it
    fs::create_symlink(db(), link);
    const std::string tooLong =
        "The ring tone name is 249 bytes long; a ring tone name holds at most 248 bytes.";
    const std::string outside = "chwr: There is no ring tone 3: the ring tones are numbered 1 to 2.\n";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string err; // a part of standard error
    } cases[] = {
        {{"list"}, 2, "chwr list: expects one database\nUsage: chwr list DB [--json]\n"},
        {{"add", db()}, 2, "chwr add: expects a database and at least one MIDI file\nUsage: chwr add DB"},
        {{"add", db(), song, song, "--name", "Two"}, 2, "chwr add: --name goes with one MIDI file only\n"},
        {{"add", db(), song, "--name", "A", "--name", "B"}, 2, "chwr add: --name is given once\n"},
        {{"export", db(), "first", out}, 2, "chwr export: INDEX must be a whole number\nUsage: chwr export"},
        {{"rename", db(), "1"}, 2, "chwr rename: expects a database, a ring tone number and a name\n"},
        {{"export", db(), "3", out}, 1, outside},
        {{"remove", db(), "0"}, 1, "chwr: There is no ring tone 0: the ring tones are numbered 1 to 2.\n"},
        {{"remove", db(), "99999999999999999999"}, 1, "the ring tones are numbered 1 to 2.\n"},
        {{"add", db(), song, large},
         1,
         large + ": This MIDI file is larger than 64k and cannot be imported.\n"},
        {{"add", db(), text}, 1, "chwr: " + text + ": This file is not a Standard MIDI File.\n"},
        {{"add", db(), none},
         1,
         "chwr: " + none + ": Cannot open \"" + none + "\": No such file or directory\n"},
        {{"add", db(), song, "--name", std::string(249, 'n')}, 1, tooLong},
        {{"rename", db(), "1", std::string(249, 'n')}, 1, "chwr: " + tooLong + "\n"},
        {{"remove", own, "1"}, 1, "tones.bak\" would be the ring tone database itself.\n"},
        {{"export", db(), "1", link}, 1, link + "\" is the ring tone database itself; nothing was written."},
        {{"list", huge}, 1, "is larger than 2147483647 bytes\n"},
        {{"list", none}, 1, "chwr: The MIDI Ring Tone database does not exist for this user: " + none + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back().substr(0, 30));
        EXPECT_THAT(chwr(c.args), FieldsAre(c.exitCode, "", HasSubstr(c.err)));
    }
    EXPECT_EQ(readFile(db()), m_original);
    EXPECT_EQ(readFile(own), m_original);
    EXPECT_EQ(listFolder(path("palm")), std::vector<std::string>{"MIDI_Ring_Tones.PDB"});
    EXPECT_FALSE(fs::exists(out));
}

// The hand-off after a write, with the HotSync tools' folders inside the test folder.
TEST_F(ChwrRingToneCommandsTest, AWrittenDatabaseGoesToJPilotOrTheWayToInstallItIsShown)
{
    if (std::system("command -v gpilot-install-file >/dev/null 2>&1") == 0)
        GTEST_SKIP() << "gnome-pilot is installed here";
    const std::string user = path("user").string();
    auto chwrAsUser = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"env", "HOME=" + user, "JPILOT_HOME=" + user, "XDG_DATA_HOME=" + user,
                                   (binaryDir() / "cli" / "chwr").string()});
        return runProcess(args);
    };
    EXPECT_THAT(
        chwrAsUser({"remove", db(), "1"}),
        FieldsAre(0, "", HasSubstr("chwr: the database was written, but not handed to the install tool: ")));
    EXPECT_EQ(readFile(db()), pdb({{"Caf\xE9", "MThd-cafe@"}}, 42));

    fs::create_directories(path("user/.jpilot"));
    EXPECT_THAT(chwrAsUser({"add", db(), m_songFile}),
                FieldsAre(0, MatchesRegex("Song\n.*\nHotSync your device to update your Ring Tones.\n"), ""));
    EXPECT_THAT(asString(readFile(path("user/.jpilot/jpilot.install"))), HasSubstr(db().string()));
}

using DatabaseSafetyTest = ChwrRingToneCommandsTest;

TEST_F(DatabaseSafetyTest, TwoChwrAddsAtOnceBothLand)
{
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        auto first = std::async(std::launch::async, [&] { return add(m_songFile); });
        EXPECT_EQ(add(m_songFile).exitCode, 0);
        EXPECT_EQ(first.get().exitCode, 0);
    }
    RingToneDatabase written = readRingToneDatabase(db()).value();
    EXPECT_EQ(written.ringTones().size(), 2u + 2 * kRounds);
    EXPECT_EQ(written.header().modificationNumber(), 41u + 2 * kRounds);
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
    EXPECT_EQ(ringTonesIn(db()), 3u);
}

TEST_F(DatabaseSafetyTest, AnUpdateRefusesADatabaseChangedSinceItWasLoaded)
{
    LoadedFileIdentity loaded;
    RingToneDatabase database = withSong(&loaded);
    // Another program writes the database: the update is refused, nothing written.
    ASSERT_EQ(add(m_songFile).exitCode, 0);
    const Bytes theirs = readFile(db());
    EXPECT_EQ(updateRingTones(database, db(), backup(), nullptr, {loaded}).error(), kDatabaseChangedMessage);
    EXPECT_EQ(std::tuple(readFile(db()), readFile(backup())), std::tuple(theirs, m_original));
    EXPECT_THAT(updateRingTones(database, path("palm/Other.PDB"), backup(), nullptr, {loaded}).error(),
                HasSubstr("The ring tones were loaded from \"" + loaded.path.string() + "\""));
}

TEST_F(DatabaseSafetyTest, ADatabaseThroughALinkIsWrittenWhereItPointsWithItsMode)
{
    const fs::perms mode = fs::perms(0640);
    fs::permissions(db(), mode);
    const fs::path link = path("link/MIDI_Ring_Tones.PDB");
    fs::create_directories(link.parent_path());
    fs::create_symlink(db(), link);
    const ProcessResult run = chwr({"add", link, m_songFile, "--no-install"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ringTonesIn(db()), 3u);
    EXPECT_EQ(readFile(backup()), m_original);
    EXPECT_EQ(std::tuple(fs::status(db()).permissions(), fs::status(backup()).permissions()),
              std::tuple(mode, mode));
    EXPECT_THAT(listFolder(path("link")), ElementsAre("MIDI_Ring_Tones.PDB"));
}

TEST_F(DatabaseSafetyTest, ADatabaseWithAnotherNameIsNotWrittenButOneLeftWithItsBackupIs)
{
    fs::create_hard_link(db(), path("elsewhere.PDB"));
    EXPECT_THAT(add(m_songFile), FieldsAre(1, _, HasSubstr("has 1 other name(s) on the disk (hard links)")));
    EXPECT_EQ(readFile(db()), m_original);
    EXPECT_THAT(listFolder(path("palm")), ElementsAre("MIDI_Ring_Tones.PDB"));
    // A write that stopped between its renames leaves the backup a second name: fine.
    fs::remove(path("elsewhere.PDB"));
    fs::create_hard_link(db(), backup());
    EXPECT_EQ(add(m_songFile).exitCode, 0);
    EXPECT_EQ(ringTonesIn(db()), 3u);
    EXPECT_EQ(readFile(backup()), m_original);
}

// Unlike an export over the database (refused above), a modify over its own source is written.
TEST_F(DatabaseSafetyTest, AModifyOverItsSourceIsWritten)
{
    const ProcessResult modify = chwr({"modify", m_songFile, m_songFile, "--adjust", "1:velocity=1"});
    EXPECT_EQ(modify.exitCode, 0) << modify.err;
    EXPECT_THAT(asString(readFile(m_songFile)), StartsWith("MThd"));
    EXPECT_THAT(listFolder(folder()), Each(Not(StartsWith(".chwr-"))));
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
            EXPECT_EQ(std::tuple(added.error(), database.ringTones().size()), std::tuple(c.error, 2u));
        } else {
            ASSERT_TRUE(added) << added.error();
            const ByteView data = database.ringTones()[*added].midiData();
            EXPECT_EQ(Bytes(data.begin(), data.end()), concat({c.song, Bytes{AddedMark}}));
        }
    }
}

} // namespace
} // namespace chwr
