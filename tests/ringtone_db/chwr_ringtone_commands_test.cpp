#include "ringtone_db/ring_tone_files.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <gmock/gmock.h>
#include <optional>
#include <unistd.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::bytesOf;
using test::midiFileOfSize;
using test::PdbBuilder;
using test::ProcessResult;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// Runs chwr as a user does and checks what it prints, its exit status and the files it leaves.
class ChwrRingToneCommandsTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        fs::create_directories(path("palm"));
    }

    static ProcessResult chwr(std::vector<std::string> args)
    {
        args.insert(args.begin(), (test::binaryDir() / "cli" / "chwr").string());
        return test::runProcess(args);
    }

    std::string db() const { return path("palm/MIDI_Ring_Tones.PDB").string(); }
    fs::path backup() const { return path("palm/MIDI_Ring_Tones.bak"); }

    Bytes writeDatabase() const
    {
        Bytes file = PdbBuilder()
                         .modnumber(41)
                         .ringTone("Chime", bytesOf("MThd-chime"))
                         .ringTone("Caf\xE9", bytesOf("MThd-cafe@"))
                         .build();
        writeFile("palm/MIDI_Ring_Tones.PDB", file);
        return file;
    }

    static std::vector<std::string> names(const fs::path& database)
    {
        Result<RingToneDatabase> read = readRingToneDatabase(database);
        if (!read) {
            ADD_FAILURE() << read.error();
            return {};
        }
        std::vector<std::string> result;
        for (const RingToneRecord& tone : read->ringTones())
            result.push_back(asString(tone.name));
        return result;
    }
};

TEST_F(ChwrRingToneCommandsTest, ListPrintsOneTabSeparatedLinePerRingToneInUtf8)
{
    writeDatabase();
    ProcessResult run = chwr({"list", db()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\tChime\t10\t\n2\tCaf\xC3\xA9\t10\tx\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(ChwrRingToneCommandsTest, ListAsJsonCarriesTheHeaderCounts)
{
    writeDatabase();
    ProcessResult run = chwr({"list", db(), "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "{\"records\": 2, \"modnumber\": 41, \"ringtones\": ["
                       "{\"index\": 1, \"name\": \"Chime\", \"size\": 10, \"added\": false}, "
                       "{\"index\": 2, \"name\": \"Caf\xC3\xA9\", \"size\": 10, \"added\": true}]}\n");
}

TEST_F(ChwrRingToneCommandsTest, ListEscapesNamesForJsonAndKeepsTextLinesWhole)
{
    writeFile("palm/MIDI_Ring_Tones.PDB", PdbBuilder().ringTone("a\"b\\c\td", bytesOf("m")).build());
    EXPECT_THAT(chwr({"list", db(), "--json"}).out, HasSubstr("\"name\": \"a\\\"b\\\\c\\u0009d\""));
    EXPECT_EQ(chwr({"list", db()}).out, "1\ta\"b\\c d\t1\t\n");
}

TEST_F(ChwrRingToneCommandsTest, AddNamesWritesWithABackupAndPrintsTheNewNames)
{
    const Bytes original = writeDatabase();
    const Bytes midi = midiFileOfSize(300);
    const fs::path chime = writeFile("in/Chime.mid", midi);
    const fs::path other = writeFile("in/Other (2).mid", midiFileOfSize(40));
    ProcessResult run = chwr({"add", db(), chime.string(), other.string(), chime.string(), "--no-install"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Chime (1)\nOther\nChime (2)\n");
    EXPECT_EQ(readFile(backup()), original);
    EXPECT_THAT(names(db()), ElementsAre("Chime", "Caf\xE9", "Chime (1)", "Other", "Chime (2)"));

    ProcessResult json = chwr({"list", db(), "--json"});
    EXPECT_THAT(json.out, HasSubstr("\"records\": 5, \"modnumber\": 42"));
    EXPECT_THAT(json.out,
                HasSubstr("{\"index\": 3, \"name\": \"Chime (1)\", \"size\": 301, \"added\": true}"));
}

TEST_F(ChwrRingToneCommandsTest, AddWithANameTakesItsStemMadeUnique)
{
    writeDatabase();
    const fs::path song = writeFile("in/song.mid", midiFileOfSize(40));
    ProcessResult run = chwr({"add", db(), song.string(), "--name", "Chime (7).mid", "--no-install"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Chime (1)\n");
    ProcessResult utf8 =
        chwr({"add", db(), song.string(), "--name=Caf\xC3\xA9 \xE2\x99\xAB", "--no-install"});
    EXPECT_EQ(utf8.out, "Caf\xC3\xA9 ?\n");
}

TEST_F(ChwrRingToneCommandsTest, AddRefusesATooLargeFileAndWritesNothing)
{
    const Bytes original = writeDatabase();
    const fs::path fits = writeFile("in/Fits.mid", midiFileOfSize(64000));
    const fs::path large = writeFile("in/Large.mid", midiFileOfSize(64001));
    ProcessResult run = chwr({"add", db(), fits.string(), large.string(), "--no-install"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("This MIDI file is larger than 64k and cannot be imported."));
    EXPECT_THAT(run.err, HasSubstr("Large.mid"));
    EXPECT_EQ(readFile(db()), original);
    EXPECT_EQ(listFolder(path("palm")), std::vector<std::string>{"MIDI_Ring_Tones.PDB"});
}

TEST_F(ChwrRingToneCommandsTest, AddRefusesATooLongName)
{
    const Bytes original = writeDatabase();
    const fs::path song = writeFile("in/song.mid", midiFileOfSize(40));
    ProcessResult run = chwr({"add", db(), song.string(), "--name", std::string(249, 'n'), "--no-install"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("at most 248 bytes"));
    EXPECT_EQ(readFile(db()), original);
}

TEST_F(ChwrRingToneCommandsTest, AddIntoAFolderThatCannotBeWrittenLeavesEverythingAsItWas)
{
    const Bytes original = writeDatabase();
    const fs::path song = writeFile("in/song.mid", midiFileOfSize(40));
    fs::permissions(path("palm"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (::access(path("palm").c_str(), W_OK) == 0)
        GTEST_SKIP() << "running with rights that ignore folder permissions";
    ProcessResult run = chwr({"add", db(), song.string(), "--no-install"});
    fs::permissions(path("palm"), fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("The ring tone database was not written: Cannot create"));
    EXPECT_THAT(run.err, HasSubstr("Permission denied"));
    EXPECT_EQ(readFile(db()), original);
    EXPECT_EQ(listFolder(path("palm")), std::vector<std::string>{"MIDI_Ring_Tones.PDB"});
}

TEST_F(ChwrRingToneCommandsTest, ABackupThatCannotBeMadeLeavesTheDatabaseAndNoTemporaryFile)
{
    const Bytes original = writeDatabase();
    // A folder in the backup's place: the copy cannot be moved there, whoever runs this.
    writeFile("palm/MIDI_Ring_Tones.bak/keep", bytesOf("x"));
    ProcessResult run = chwr({"rename", db(), "1", "New", "--no-install"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err,
                HasSubstr("The backup could not be made, so the ring tone database was not written"));
    EXPECT_EQ(readFile(db()), original);
    EXPECT_EQ(listFolder(path("palm")),
              (std::vector<std::string>{"MIDI_Ring_Tones.PDB", "MIDI_Ring_Tones.bak"}));
    EXPECT_EQ(listFolder(backup()), std::vector<std::string>{"keep"});
}

TEST_F(ChwrRingToneCommandsTest, ExportWritesTheRingTonesBytes)
{
    writeDatabase();
    const fs::path out = path("out.mid");
    ProcessResult run = chwr({"export", db(), "2", out.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(asString(readFile(out)), "MThd-cafe@");
}

TEST_F(ChwrRingToneCommandsTest, RemoveAndRenameWriteTheDatabaseWithABackup)
{
    const Bytes original = writeDatabase();
    ProcessResult renamed = chwr({"rename", db(), "1", "Bell (2).mid", "--no-install"});
    EXPECT_EQ(renamed.exitCode, 0) << renamed.err;
    EXPECT_THAT(names(db()), ElementsAre("Bell (2).mid", "Caf\xE9"));
    EXPECT_EQ(readFile(backup()), original);

    const Bytes afterRename = readFile(db());
    ProcessResult removed = chwr({"remove", db(), "2", "--no-install"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_THAT(names(db()), ElementsAre("Bell (2).mid"));
    EXPECT_EQ(readFile(backup()), afterRename);

    // The last ring tone can go too; the empty database is still written.
    EXPECT_EQ(chwr({"remove", db(), "1", "--no-install"}).exitCode, 0);
    EXPECT_THAT(names(db()), IsEmpty());
    EXPECT_EQ(chwr({"list", db()}).out, "");
}

TEST_F(ChwrRingToneCommandsTest, AnIndexOutsideTheListIsRefused)
{
    const Bytes original = writeDatabase();
    for (const char* index : {"0", "3", "-1", "99999999999999999999"}) {
        SCOPED_TRACE(index);
        ProcessResult removed = chwr({"remove", db(), index, "--no-install"});
        EXPECT_EQ(removed.exitCode, 1);
        EXPECT_THAT(removed.err, HasSubstr("the ring tones are numbered 1 to 2"));
        EXPECT_EQ(chwr({"export", db(), index, path("out.mid").string()}).exitCode, 1);
        EXPECT_EQ(chwr({"rename", db(), index, "X", "--no-install"}).exitCode, 1);
    }
    EXPECT_EQ(readFile(db()), original);
    EXPECT_FALSE(fs::exists(path("out.mid")));
    EXPECT_FALSE(fs::exists(backup()));
}

TEST_F(ChwrRingToneCommandsTest, BadUsageExitsWithTwo)
{
    writeDatabase();
    const fs::path song = writeFile("in/song.mid", midiFileOfSize(40));
    const std::vector<std::vector<std::string>> runs = {
        {"list"},
        {"list", db(), "--color"},
        {"add", db()},
        {"add", db(), song.string(), song.string(), "--name", "Two files"},
        {"add", db(), song.string(), "--name"},
        {"export", db(), "first", path("out.mid").string()},
        {"remove", db(), "1.5"},
        {"rename", db(), "1"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args.size() > 2 ? args[0] + " " + args.back() : args[0]);
        ProcessResult run = chwr(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_THAT(run.err, HasSubstr("Usage: chwr " + args[0]));
    }
    EXPECT_FALSE(fs::exists(backup()));
}

TEST_F(ChwrRingToneCommandsTest, AMissingOrDamagedDatabaseIsReported)
{
    ProcessResult missing = chwr({"list", db()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "chwr: The MIDI Ring Tone database does not exist for this user: " + db() + "\n");

    writeFile("palm/MIDI_Ring_Tones.PDB", Bytes(30, 0));
    ProcessResult damaged = chwr({"add", db(), path("x.mid").string(), "--no-install"});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_THAT(damaged.err, HasSubstr("is damaged: The file is shorter than a Palm database header"));
    EXPECT_EQ(readFile(db()), Bytes(30, 0));
}

TEST_F(ChwrRingToneCommandsTest, HelpDescribesEachCommand)
{
    ProcessResult all = chwr({"--help"});
    EXPECT_EQ(all.exitCode, 0);
    for (const char* synopsis :
         {"list DB [--json]", "add DB FILE.mid... [--name NAME] [--no-install]", "export DB INDEX OUT.mid",
          "remove DB INDEX [--no-install]", "rename DB INDEX NAME [--no-install]"})
        EXPECT_THAT(all.out, HasSubstr(synopsis));
    ProcessResult add = chwr({"add", "--help"});
    EXPECT_EQ(add.exitCode, 0);
    EXPECT_THAT(add.out, HasSubstr("64000 bytes"));
    EXPECT_THAT(add.out, HasSubstr(".bak"));
}

// The hand-off after a write, with the HotSync tools' folders inside the test folder.
class ChwrRingToneInstallTest : public ChwrRingToneCommandsTest {
protected:
    void SetUp() override
    {
        ChwrRingToneCommandsTest::SetUp();
        for (const char* name : {"HOME", "JPILOT_HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(name);
            m_saved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
        }
        fs::create_directories(path("user"));
        ::setenv("HOME", path("user").c_str(), 1);
        ::setenv("JPILOT_HOME", path("user").c_str(), 1);
        ::setenv("XDG_DATA_HOME", path("user/data").c_str(), 1);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        ChwrRingToneCommandsTest::TearDown();
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(ChwrRingToneInstallTest, AddHandsTheWrittenDatabaseToJPilot)
{
    writeDatabase();
    fs::create_directories(path("user/.jpilot"));
    const fs::path song = writeFile("in/Song.mid", midiFileOfSize(40));
    ProcessResult run = chwr({"add", db(), song.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, StartsWith("Song\n"));
    EXPECT_THAT(run.out, EndsWith("\nHotSync your device to update your Ring Tones.\n"));
    EXPECT_THAT(asString(readFile(path("user/.jpilot/jpilot.install"))), HasSubstr(db()));
}

TEST_F(ChwrRingToneInstallTest, WithoutAHotSyncToolTheDatabaseIsWrittenAndTheWayToInstallItShown)
{
    if (std::system("command -v gpilot-install-file >/dev/null 2>&1") == 0)
        GTEST_SKIP() << "gnome-pilot is installed here";
    writeDatabase();
    ProcessResult run = chwr({"remove", db(), "1"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("the database was written, but not handed to the install tool"));
    EXPECT_THAT(run.err, HasSubstr("pilot-xfer"));
    EXPECT_THAT(names(db()), ElementsAre("Caf\xE9"));
}

} // namespace
} // namespace chwr
