#include "ringtone_db/ring_tone_files.h"

#include "shell/file_io.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <cerrno>
#include <filesystem>
#include <gmock/gmock.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::bytesOf;
using test::midiFileOfSize;
using test::PdbBuilder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Takes the file or refuses it as told, and remembers what it was given.
class ScriptedInstallHandoff : public InstallHandoff {
public:
    explicit ScriptedInstallHandoff(Result<std::string> answer) : m_answer(std::move(answer)) {}
    Result<std::string> install(const fs::path& database) override
    {
        m_installed.push_back(database);
        return m_answer;
    }
    const std::vector<fs::path>& installed() const { return m_installed; }

private:
    Result<std::string> m_answer;
    std::vector<fs::path> m_installed;
};

class RingToneFilesTest : public test::TempFolderTest {
protected:
    fs::path databasePath() const { return path("Backup/MIDI_Ring_Tones.PDB"); }
    fs::path backupPath() const { return path("Backup/MIDI_Ring_Tones.bak"); }
    fs::path snapshotPath() const { return home() / "MIDI_Ring_Tones2.PDB"; }

    // A database on disk as the handheld's backup leaves it.
    Bytes writeDatabase(const Bytes& file) const
    {
        writeFile("Backup/MIDI_Ring_Tones.PDB", file);
        return file;
    }

    RingToneDatabase loaded(const fs::path& file) const
    {
        Result<RingToneDatabase> database = loadRingTones(file);
        if (!database)
            ADD_FAILURE() << database.error();
        return database ? std::move(database).value() : RingToneDatabase();
    }

    static std::vector<std::string> names(const RingToneDatabase& database)
    {
        std::vector<std::string> result;
        for (const RingToneRecord& tone : database.ringTones())
            result.push_back(asString(tone.name));
        return result;
    }

    // Temporary files left by an interrupted write start with a dot.
    static bool holdsTemporaryFiles(const fs::path& folder)
    {
        for (const std::string& name : listFolder(folder)) {
            if (name.find(".tmp-") != std::string::npos)
                return true;
        }
        return false;
    }
};

// ---- Load ---------------------------------------------------------------------------

TEST_F(RingToneFilesTest, LoadListsTheRingTonesAndWritesTheHeaderSnapshot)
{
    const Bytes file =
        writeDatabase(PdbBuilder().ringTone("One", bytesOf("111")).ringTone("Two", bytesOf("22@")).build());
    auto database = loaded(databasePath());
    EXPECT_THAT(names(database), ElementsAre("One", "Two"));
    EXPECT_TRUE(database.ringTones()[1].carriesAddedMark());

    // Header, record list as read, one 0x00: 79 + 8 N bytes.
    const Bytes snapshot = readFile(snapshotPath());
    ASSERT_EQ(snapshot.size(), 79u + 16);
    EXPECT_TRUE(std::equal(snapshot.begin(), snapshot.end() - 1, file.begin()));
    EXPECT_EQ(snapshot.back(), 0x00);
}

TEST_F(RingToneFilesTest, LoadReplacesALongerOlderSnapshotWhole)
{
    writeFile("home/MIDI_Ring_Tones2.PDB", Bytes(5000, 0xEE));
    writeDatabase(PdbBuilder().ringTone("One", bytesOf("1")).build());
    auto first = loaded(databasePath());
    auto second = loaded(databasePath());
    EXPECT_EQ(names(first), names(second));
    EXPECT_EQ(readFile(snapshotPath()).size(), 79u + 8);
}

TEST_F(RingToneFilesTest, LoadCreatesTheProgramFolderForTheSnapshot)
{
    fs::remove_all(home());
    writeDatabase(PdbBuilder().build());
    auto database = loaded(databasePath());
    EXPECT_TRUE(database.isLoaded());
    EXPECT_EQ(readFile(snapshotPath()).size(), 79u);
}

TEST_F(RingToneFilesTest, AMissingDatabaseGivesTheMessageWithThePath)
{
    Result<RingToneDatabase> database = loadRingTones(databasePath());
    ASSERT_FALSE(database);
    EXPECT_EQ(database.error(),
              "The MIDI Ring Tone database does not exist for this user: " + databasePath().string());
    EXPECT_FALSE(fs::exists(snapshotPath()));
}

TEST_F(RingToneFilesTest, ADamagedDatabaseIsRefusedAndTheSnapshotKept)
{
    writeFile("home/MIDI_Ring_Tones2.PDB", bytesOf("earlier snapshot"));
    writeDatabase(Bytes(40, 0x00));
    Result<RingToneDatabase> database = loadRingTones(databasePath());
    ASSERT_FALSE(database);
    EXPECT_THAT(database.error(),
                StartsWith("The ring tone database \"" + databasePath().string() + "\" is damaged: "));
    EXPECT_THAT(database.error(), HasSubstr("it has 40 bytes"));
    EXPECT_EQ(asString(readFile(snapshotPath())), "earlier snapshot");
}

TEST_F(RingToneFilesTest, AnUnwritableSnapshotFailsTheLoadWithTheReason)
{
    writeDatabase(PdbBuilder().build());
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::OpenWrite ? EACCES : 0; });
    Result<RingToneDatabase> database = loadRingTones(databasePath());
    ASSERT_FALSE(database);
    EXPECT_THAT(database.error(), StartsWith("The header snapshot was not written: "));
    EXPECT_THAT(database.error(), HasSubstr("Permission denied"));
}

TEST_F(RingToneFilesTest, NamesAndDataComeBackByteForByte)
{
    // Windows-1252 bytes, one of them undefined in the code page.
    const std::string name = "Caf\xE9 \x81\x99";
    const Bytes data = {0x4D, 0x54, 0x00, 0xFF, 0x40};
    const Bytes file = writeDatabase(PdbBuilder().ringTone(name, data).build());
    auto database = loaded(databasePath());
    EXPECT_EQ(asString(database.ringTones()[0].name), name);
    ASSERT_TRUE(updateRingTones(database, databasePath(), backupPath(), nullptr));
    const Bytes written = readFile(databasePath());
    EXPECT_TRUE(std::equal(file.begin() + 78, file.end(), written.begin() + 78, written.end()));
}

// ---- Add ----------------------------------------------------------------------------

TEST_F(RingToneFilesTest, AddNamesTheRingToneAfterTheFileAndCountsUp)
{
    writeDatabase(PdbBuilder().ringTone("song", bytesOf("x")).build());
    auto database = loaded(databasePath());
    const Bytes midi = midiFileOfSize(120);
    const fs::path song = writeFile("midi/Song.mid", midi);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(addMidiFile(database, song));
    // A title with a counter is cut at its first " (".
    ASSERT_TRUE(addMidiFile(database, writeFile("midi/Song (3).mid", midi)));
    EXPECT_THAT(names(database), ElementsAre("song", "Song", "Song (1)", "Song (2)", "Song (3)"));
    const RingToneRecord& added = database.ringTones()[1];
    EXPECT_EQ(added.size, 121);
    EXPECT_TRUE(std::equal(midi.begin(), midi.end(), added.data.begin()));
    EXPECT_EQ(added.data.back(), '@');
}

TEST_F(RingToneFilesTest, AddFillsTheFirstFreeCounter)
{
    writeDatabase(PdbBuilder().ringTone("Song", bytesOf("1")).ringTone("Song (2)", bytesOf("2")).build());
    auto database = loaded(databasePath());
    Result<std::size_t> index = addMidiFile(database, writeFile("Song.mid", midiFileOfSize(40)));
    ASSERT_TRUE(index);
    EXPECT_EQ(asString(database.ringTones()[*index].name), "Song (1)");
}

TEST_F(RingToneFilesTest, AddTakesTheLimitOf64000Bytes)
{
    writeDatabase(PdbBuilder().build());
    auto database = loaded(databasePath());
    Result<std::size_t> largest = addMidiFile(database, writeFile("Largest.mid", midiFileOfSize(64000)));
    ASSERT_TRUE(largest) << largest.error();
    EXPECT_EQ(database.ringTones()[*largest].size, 64001);
    Result<std::size_t> tooLarge = addMidiFile(database, writeFile("TooLarge.mid", midiFileOfSize(64001)));
    ASSERT_FALSE(tooLarge);
    EXPECT_EQ(tooLarge.error(), "This MIDI file is larger than 64k and cannot be imported.");
    EXPECT_EQ(database.ringTones().size(), 1u);
}

TEST_F(RingToneFilesTest, AddRefusesWhenNothingIsLoadedOrTheFileCannotBeRead)
{
    RingToneDatabase nothing;
    Result<std::size_t> refused = addMidiFile(nothing, writeFile("Song.mid", midiFileOfSize(40)));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "No MIDI Ring Tones loaded.");

    writeDatabase(PdbBuilder().build());
    auto database = loaded(databasePath());
    Result<std::size_t> missing = addMidiFile(database, path("Missing.mid"));
    ASSERT_FALSE(missing);
    EXPECT_THAT(missing.error(), HasSubstr("Missing.mid"));
    EXPECT_TRUE(database.ringTones().empty());
}

TEST_F(RingToneFilesTest, AddEncodesTheTitleInTheCodePageAndKeepsAHandOffNameAsGiven)
{
    writeDatabase(PdbBuilder().build());
    auto database = loaded(databasePath());
    // "Café ♫.mid": the é is in the code page, the note is not.
    Result<std::size_t> fromTitle =
        addMidiFile(database, writeFile("Caf\xC3\xA9 \xE2\x99\xAB.mid", midiFileOfSize(40)));
    ASSERT_TRUE(fromTitle) << fromTitle.error();
    EXPECT_EQ(asString(database.ringTones()[*fromTitle].name), "Caf\xE9 ?");

    Result<std::size_t> named =
        addMidiFileNamed(database, path("Caf\xC3\xA9 \xE2\x99\xAB.mid"), asBytes("Tune (7).x"));
    ASSERT_TRUE(named);
    EXPECT_EQ(asString(database.ringTones()[*named].name), "Tune (7).x");

    Result<std::size_t> tooLong =
        addMidiFileNamed(database, path("Caf\xC3\xA9 \xE2\x99\xAB.mid"), Bytes(249, 'n'));
    ASSERT_FALSE(tooLong);
    EXPECT_THAT(tooLong.error(), HasSubstr("at most 248 bytes"));
}

// ---- Update: write, backup, hand-off ------------------------------------------------

TEST_F(RingToneFilesTest, UpdateWritesTheListKeepsTheOldFileAsBackupAndHandsItOff)
{
    const Bytes original = writeDatabase(PdbBuilder().modnumber(5).ringTone("One", bytesOf("1")).build());
    writeFile("Backup/MIDI_Ring_Tones.bak", bytesOf("older backup"));
    auto database = loaded(databasePath());
    ASSERT_TRUE(addMidiFile(database, writeFile("Two.mid", midiFileOfSize(50))));

    ScriptedInstallHandoff handoff(std::string("Queued for the next HotSync."));
    Result<UpdateOutcome> outcome = updateRingTones(database, databasePath(), backupPath(), &handoff);
    ASSERT_TRUE(outcome) << outcome.error();
    EXPECT_TRUE(outcome->handedOff);
    EXPECT_EQ(outcome->installMessage, "Queued for the next HotSync.");
    EXPECT_THAT(handoff.installed(), ElementsAre(databasePath()));

    EXPECT_EQ(readFile(backupPath()), original);
    auto reloaded = loaded(databasePath());
    EXPECT_THAT(names(reloaded), ElementsAre("One", "Two"));
    EXPECT_EQ(reloaded.header().modificationNumber(), 6u);
    EXPECT_FALSE(holdsTemporaryFiles(path("Backup")));

    // A second write without reloading raises modnumber again and backs up the first.
    const Bytes firstWrite = readFile(databasePath());
    ASSERT_TRUE(updateRingTones(database, databasePath(), backupPath(), nullptr));
    EXPECT_EQ(readFile(backupPath()), firstWrite);
    EXPECT_EQ(loaded(databasePath()).header().modificationNumber(), 7u);
}

TEST_F(RingToneFilesTest, UpdatePutsTheBackupWhereItIsTold)
{
    writeDatabase(PdbBuilder().ringTone("One", bytesOf("1")).build());
    auto database = loaded(databasePath());
    const fs::path inProgramFolder = home() / "MIDI_Ring_Tones.bak";
    ASSERT_TRUE(updateRingTones(database, databasePath(), inProgramFolder, nullptr));
    EXPECT_TRUE(fs::exists(inProgramFolder));
    EXPECT_FALSE(fs::exists(backupPath()));
}

TEST_F(RingToneFilesTest, UpdateWithoutADatabaseCreatesItAndDropsTheOldBackup)
{
    writeDatabase(PdbBuilder().ringTone("One", bytesOf("1")).build());
    auto database = loaded(databasePath());
    fs::remove(databasePath());
    writeFile("Backup/MIDI_Ring_Tones.bak", bytesOf("older backup"));
    ASSERT_TRUE(updateRingTones(database, databasePath(), backupPath(), nullptr));
    EXPECT_THAT(names(loaded(databasePath())), ElementsAre("One"));
    EXPECT_FALSE(fs::exists(backupPath()));
}

TEST_F(RingToneFilesTest, AFailedHandOffIsReportedButTheDatabaseIsWritten)
{
    writeDatabase(PdbBuilder().build());
    auto database = loaded(databasePath());
    ScriptedInstallHandoff handoff(Error{"No HotSync tool found; install the file with: pilot-xfer -i FILE"});
    Result<UpdateOutcome> outcome = updateRingTones(database, databasePath(), backupPath(), &handoff);
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->handedOff);
    EXPECT_THAT(outcome->installMessage, HasSubstr("pilot-xfer"));
    EXPECT_EQ(loaded(databasePath()).header().modificationNumber(), 6u);
}

TEST_F(RingToneFilesTest, AnEmptyLoadedListCanBeWrittenButNothingLoadedCannot)
{
    writeDatabase(PdbBuilder().ringTone("Only", bytesOf("1")).build());
    auto database = loaded(databasePath());
    ASSERT_TRUE(database.removeRingTone(0));
    ASSERT_TRUE(updateRingTones(database, databasePath(), backupPath(), nullptr));
    EXPECT_EQ(readFile(databasePath()).size(), 79u);

    RingToneDatabase nothing;
    ScriptedInstallHandoff handoff(std::string("queued"));
    Result<UpdateOutcome> refused = updateRingTones(nothing, databasePath(), backupPath(), &handoff);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "No MIDI Ring Tones loaded.");
    EXPECT_EQ(readFile(databasePath()).size(), 79u);
    EXPECT_TRUE(handoff.installed().empty());
}

TEST_F(RingToneFilesTest, UpdateRefusesATooLongNameBeforeTouchingAnyFile)
{
    const Bytes original = writeDatabase(PdbBuilder().ringTone(std::string(300, 'n'), bytesOf("1")).build());
    writeFile("Backup/MIDI_Ring_Tones.bak", bytesOf("older backup"));
    auto database = loaded(databasePath());
    Result<UpdateOutcome> refused = updateRingTones(database, databasePath(), backupPath(), nullptr);
    ASSERT_FALSE(refused);
    EXPECT_THAT(refused.error(), HasSubstr("300 bytes long"));
    EXPECT_EQ(readFile(databasePath()), original);
    EXPECT_EQ(asString(readFile(backupPath())), "older backup");
}

TEST_F(RingToneFilesTest, UpdateRefusesABackupThatIsTheDatabaseItself)
{
    const Bytes original = writeDatabase(PdbBuilder().ringTone("One", bytesOf("1")).build());
    auto database = loaded(databasePath());
    Result<UpdateOutcome> refused =
        updateRingTones(database, databasePath(), path("Backup/../Backup/MIDI_Ring_Tones.PDB"), nullptr);
    ASSERT_FALSE(refused);
    EXPECT_THAT(refused.error(), HasSubstr("would be the ring tone database itself"));
    EXPECT_EQ(readFile(databasePath()), original);
}

TEST_F(RingToneFilesTest, AFailureAtAnyStepLeavesTheDatabaseAndNoTemporaryFile)
{
    struct Step {
        FileOp op;
        // Only the operation on this file fails; empty: on any file.
        std::string onlyFileName;
        const char* message;
    };
    const Step steps[] = {
        {FileOp::OpenWrite, "", "The ring tone database was not written: Cannot create"},
        {FileOp::Write, "", "The ring tone database was not written: Cannot write"},
        {FileOp::Sync, "", "The ring tone database was not written: Cannot flush"},
        {FileOp::Close, "", "The ring tone database was not written: Cannot close"},
        {FileOp::Copy, "",
         "The backup could not be made, so the ring tone database was not written: Cannot copy"},
        {FileOp::OpenRead, "",
         "The backup could not be made, so the ring tone database was not written: Cannot open"},
        {FileOp::Read, "",
         "The backup could not be made, so the ring tone database was not written: Cannot read"},
        // The backup's own temporary file, then its move into place.
        {FileOp::Write, "bak",
         "The backup could not be made, so the ring tone database was not written: Cannot write"},
        {FileOp::Rename, "MIDI_Ring_Tones.bak",
         "The backup could not be made, so the ring tone database was not written: Cannot move"},
        // The last step: the new database moved over the old one.
        {FileOp::Rename, "MIDI_Ring_Tones.PDB", "The ring tone database was not written: Cannot move"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(fileOpName(step.op)) + " " + step.onlyFileName);
        const Bytes original = writeDatabase(PdbBuilder().modnumber(5).ringTone("One", bytesOf("1")).build());
        writeFile("Backup/MIDI_Ring_Tones.bak", bytesOf("older backup"));
        auto database = loaded(databasePath());
        ASSERT_TRUE(addMidiFile(database, writeFile("Two.mid", midiFileOfSize(40))));

        setFileFaultHook([&step](FileOp op, const fs::path& file) {
            const std::string name = file.filename().string();
            const bool matches = step.onlyFileName.empty() || name == step.onlyFileName ||
                                 (step.onlyFileName == "bak" && name.find(".bak.tmp-") != std::string::npos);
            return op == step.op && matches ? EIO : 0;
        });
        ScriptedInstallHandoff handoff(std::string("queued"));
        Result<UpdateOutcome> outcome = updateRingTones(database, databasePath(), backupPath(), &handoff);
        setFileFaultHook({});

        ASSERT_FALSE(outcome);
        EXPECT_THAT(outcome.error(), StartsWith(step.message));
        EXPECT_THAT(outcome.error(), HasSubstr("Input/output error"));
        EXPECT_EQ(readFile(databasePath()), original);
        EXPECT_FALSE(holdsTemporaryFiles(path("Backup")));
        EXPECT_TRUE(handoff.installed().empty());
        // The backup is the older one or a copy of the database as it still is.
        const Bytes backup = readFile(backupPath());
        EXPECT_TRUE(asString(backup) == "older backup" || backup == original);

        // The failed write did not count: the next one raises modnumber once.
        ASSERT_TRUE(updateRingTones(database, databasePath(), backupPath(), nullptr));
        EXPECT_EQ(loaded(databasePath()).header().modificationNumber(), 6u);
        EXPECT_EQ(readFile(backupPath()), original);
    }
}

TEST_F(RingToneFilesTest, AFailureToDropTheOldBackupLeavesEverythingAsItWas)
{
    writeDatabase(PdbBuilder().ringTone("One", bytesOf("1")).build());
    auto database = loaded(databasePath());
    fs::remove(databasePath());
    writeFile("Backup/MIDI_Ring_Tones.bak", bytesOf("older backup"));
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::Remove ? EPERM : 0; });
    Result<UpdateOutcome> outcome = updateRingTones(database, databasePath(), backupPath(), nullptr);
    ASSERT_FALSE(outcome);
    EXPECT_THAT(outcome.error(),
                StartsWith("The backup could not be made, so the ring tone database was not written: "
                           "Cannot delete"));
    EXPECT_FALSE(fs::exists(databasePath()));
    EXPECT_EQ(asString(readFile(backupPath())), "older backup");
    EXPECT_EQ(listFolder(path("Backup")), std::vector<std::string>{"MIDI_Ring_Tones.bak"});
}

TEST_F(RingToneFilesTest, BackupBesideTheDatabaseDropsTheLastExtension)
{
    EXPECT_EQ(backupBeside("/palm/user1/Backup/MIDI_Ring_Tones.PDB"),
              fs::path("/palm/user1/Backup/MIDI_Ring_Tones.bak"));
    EXPECT_EQ(backupBeside("tones.v2.pdb"), fs::path("tones.v2.bak"));
    EXPECT_EQ(backupBeside("tones"), fs::path("tones.bak"));
}

// ---- Export -------------------------------------------------------------------------

TEST_F(RingToneFilesTest, ExportWritesTheMidiDataWithItsMarkAndReplacesAFile)
{
    writeDatabase(PdbBuilder().ringTone("One", bytesOf("1")).build());
    auto database = loaded(databasePath());
    const Bytes midi = midiFileOfSize(64);
    ASSERT_TRUE(addMidiFile(database, writeFile("Song.mid", midi)));
    const fs::path out = writeFile("out/Song.mid", bytesOf("an older, longer file that is replaced"));
    ASSERT_TRUE(exportRingTone(database, 1, out));
    Bytes expected = midi;
    expected.push_back('@');
    EXPECT_EQ(readFile(out), expected);

    Result<void> missing = exportRingTone(database, 2, out);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "There is no ring tone 3.");
}

TEST_F(RingToneFilesTest, ExportFileNamesAreSafeAndUniqueInTheFolder)
{
    writeDatabase(
        PdbBuilder().ringTone("Song", bytesOf("1")).ringTone("../etc/Tune\\x:y", bytesOf("2")).build());
    auto database = loaded(databasePath());
    fs::create_directories(path("midi"));
    EXPECT_EQ(exportFileName(database.ringTones()[0], path("midi")), "Song.mid");
    writeFile("midi/Song.mid", bytesOf("x"));
    EXPECT_EQ(exportFileName(database.ringTones()[0], path("midi")), "Song (1).mid");
    EXPECT_EQ(exportFileName(database.ringTones()[1], path("midi")), ".._etc_Tune_x_y.mid");
}

} // namespace
} // namespace chwr
