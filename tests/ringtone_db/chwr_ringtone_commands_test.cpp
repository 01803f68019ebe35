// chwr's ring tone commands run as a user runs them: what they print, their exit status
// (0 done, 1 refused or failed, 2 bad usage) and the database they leave, byte for byte.

#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::bytesOf;
using test::ProcessResult;
using ::testing::HasSubstr;

// A database as the system writes it: these ring tones (name, data) and the modnumber.
Bytes pdb(std::uint32_t modnumber, const std::vector<std::pair<std::string, std::string>>& tones)
{
    test::PdbBuilder builder;
    for (const auto& [name, data] : tones)
        builder.ringTone(name, bytesOf(data));
    return builder.modnumber(modnumber).build();
}

class ChwrRingToneCommandsTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        writeFile("palm/MIDI_Ring_Tones.PDB", m_original);
    }
    // chwr with `environment` ("NAME=value") added to its own.
    static ProcessResult chwr(const std::vector<std::string>& args, std::vector<std::string> environment = {})
    {
        environment.insert(environment.begin(), "env");
        environment.push_back((test::binaryDir() / "cli" / "chwr").string());
        environment.insert(environment.end(), args.begin(), args.end());
        return test::runProcess(environment);
    }
    std::string db() const { return path("palm/MIDI_Ring_Tones.PDB").string(); }
    Bytes backup() const { return readFile(path("palm/MIDI_Ring_Tones.bak")); }

    const Bytes m_original = pdb(41, {{"Chime", "MThd-chime"}, {"Caf\xE9", "MThd-cafe@"}});
};

TEST_F(ChwrRingToneCommandsTest, ListPrintsTabSeparatedLinesOrJson)
{
    ProcessResult run = chwr({"list", db()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\tChime\t10\t\n2\tCaf\xC3\xA9\t10\tx\n");
    EXPECT_EQ(run.err, "");
    run = chwr({"list", db(), "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::ordered_json::parse(run.out),
              nlohmann::ordered_json::parse(R"({"records": 2, "modnumber": 41, "ringtones": [
                  {"index": 1, "name": "Chime", "size": 10, "added": false},
                  {"index": 2, "name": "Café", "size": 10, "added": true}]})"));
    // Names exactly as JSON strings; in lines, control characters become spaces.
    writeFile("palm/MIDI_Ring_Tones.PDB", pdb(1, {{"a\"b\\c\td\x7F", "@m"}}));
    EXPECT_EQ(nlohmann::json::parse(chwr({"list", db(), "--json"}).out)["ringtones"][0]["name"],
              "a\"b\\c\td\x7F");
    EXPECT_EQ(chwr({"list", db()}).out, "1\ta\"b\\c d \t2\t\n");
}

TEST_F(ChwrRingToneCommandsTest, AddWritesTheRingTonesWithABackupAndPrintsTheirNames)
{
    const std::string midi = asString(test::midiFileOfSize(64000)); // the largest that is taken
    const std::string chime = writeFile("in/Chime.mid", bytesOf(midi)).string();
    const std::string other = writeFile("in/Other (2).mid", bytesOf(midi)).string();
    ProcessResult run = chwr({"add", db(), chime, other, chime, "--no-install"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Chime (1)\nOther\nChime (2)\n");
    const Bytes first = pdb(42, {{"Chime", "MThd-chime"},
                                 {"Caf\xE9", "MThd-cafe@"},
                                 {"Chime (1)", midi + "@"},
                                 {"Other", midi + "@"},
                                 {"Chime (2)", midi + "@"}});
    EXPECT_EQ(readFile(db()), first);
    EXPECT_EQ(backup(), m_original);
    // --name gives the stem, made unique; UTF-8 becomes Windows-1252, "?" where it cannot.
    run = chwr({"add", db(), other, "--name", "Chime (7).mid", "--no-install"});
    EXPECT_EQ(run.out, "Chime (3)\n");
    EXPECT_EQ(backup(), first);
    run = chwr({"add", db(), other, "--name=Caf\xC3\xA9 \xE2\x99\xAB", "--no-install"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Caf\xC3\xA9 ?\n");
}

TEST_F(ChwrRingToneCommandsTest, ExportRemoveAndRenameDoWhatTheySay)
{
    EXPECT_EQ(chwr({"export", db(), "2", path("out.mid").string()}).exitCode, 0);
    EXPECT_EQ(asString(readFile(path("out.mid"))), "MThd-cafe@");
    ProcessResult run = chwr({"rename", db(), "1", "Bell (2).mid", "--no-install"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    const Bytes renamed = pdb(42, {{"Bell (2).mid", "MThd-chime"}, {"Caf\xE9", "MThd-cafe@"}});
    EXPECT_EQ(readFile(db()), renamed);
    EXPECT_EQ(backup(), m_original);
    EXPECT_EQ(chwr({"remove", db(), "1", "--no-install"}).exitCode, 0);
    EXPECT_EQ(readFile(db()), pdb(43, {{"Caf\xE9", "MThd-cafe@"}}));
    EXPECT_EQ(backup(), renamed);
    EXPECT_EQ(chwr({"remove", db(), "1", "--no-install"}).exitCode, 0);
    EXPECT_EQ(readFile(db()), pdb(44, {}));
    EXPECT_EQ(chwr({"list", db()}).out, "");
    EXPECT_EQ(chwr({"remove", db(), "1"}).err,
              "chwr: There is no ring tone 1: the database holds no ring tones.\n");
}

TEST_F(ChwrRingToneCommandsTest, RefusalsExitWithOneOrTwoAndLeaveTheDatabaseAsItWas)
{
    const std::string song = writeFile("in/song.mid", test::midiFileOfSize(40)).string();
    const std::string large = writeFile("in/Large.mid", test::midiFileOfSize(64001)).string();
    const std::string out = path("out.mid").string(), none = path("none").string();
    // A database that would be its own backup, and one of 2^31 bytes (sparse), refused unread.
    const std::string own = writeFile("other/tones.bak", m_original).string();
    const std::string huge = writeFile("other/huge.PDB", {}).string();
    fs::resize_file(huge, std::uintmax_t{1} << 31);
    const std::string tooLong =
        "The ring tone name is 249 bytes long; a ring tone name holds at most 248 bytes.";
    const std::string outside = "chwr: There is no ring tone 3: the ring tones are numbered 1 to 2.\n";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string err; // a part of standard error
    } cases[] = {
        {{"list"}, 2, "chwr list: expects one database\nUsage: chwr list DB [--json]\n"},
        {{"list", db(), "--color"}, 2, "Usage: chwr list DB [--json]\n"},
        {{"add", db()}, 2, "chwr add: expects a database and at least one MIDI file\nUsage: chwr add DB"},
        {{"add", db(), song, song, "--name", "Two"}, 2, "chwr add: --name goes with one MIDI file only\n"},
        {{"add", db(), song, "--name", "A", "--name", "B"}, 2, "chwr add: --name is given once\n"},
        {{"add", db(), song, "--name"}, 2, "Usage: chwr add DB FILE.mid... [--name NAME] [--fit] [--no-install] [--json]\n"},
        {{"export", db(), "first", out}, 2, "chwr export: INDEX must be a whole number\nUsage: chwr export"},
        {{"remove", db(), "1.5"}, 2, "chwr remove: INDEX must be a whole number\nUsage: chwr remove"},
        {{"rename", db(), "1"}, 2, "chwr rename: expects a database, a ring tone number and a name\n"},
        {{"remove", db(), "3"}, 1, outside},
        {{"export", db(), "3", out}, 1, outside},
        {{"rename", db(), "3", "X"}, 1, outside},
        {{"remove", db(), "0"}, 1, "chwr: There is no ring tone 0: the ring tones are numbered 1 to 2.\n"},
        {{"remove", db(), "-1"}, 1, "chwr: There is no ring tone -1: the ring tones are numbered 1 to 2.\n"},
        {{"remove", db(), "99999999999999999999"}, 1, "the ring tones are numbered 1 to 2.\n"},
        {{"add", db(), song, large},
         1,
         large + ": This MIDI file is larger than 64k and cannot be imported.\n"},
        {{"add", db(), none},
         1,
         "chwr: " + none + ": Cannot open \"" + none + "\": No such file or directory\n"},
        {{"add", db(), song, "--name", std::string(249, 'n')}, 1, tooLong},
        {{"rename", db(), "1", std::string(249, 'n')}, 1, tooLong},
        {{"remove", own, "1"}, 1, "tones.bak\" would be the ring tone database itself.\n"},
        {{"list", huge}, 1, "is larger than 2147483647 bytes\n"},
        {{"list", none}, 1, "chwr: The MIDI Ring Tone database does not exist for this user: " + none + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back().substr(0, 30));
        ProcessResult run = chwr(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, "");
        EXPECT_THAT(run.err, HasSubstr(c.err));
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
    const std::vector<std::string> environment = {"HOME=" + user, "JPILOT_HOME=" + user,
                                                  "XDG_DATA_HOME=" + user};
    ProcessResult run = chwr({"remove", db(), "1"}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("chwr: the database was written, but not handed to the install tool: "));
    EXPECT_THAT(run.err, HasSubstr("pilot-xfer"));
    EXPECT_EQ(readFile(db()), pdb(42, {{"Caf\xE9", "MThd-cafe@"}}));

    fs::create_directories(path("user/.jpilot"));
    run = chwr({"add", db(), writeFile("in/Song.mid", test::midiFileOfSize(40)).string()}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out,
                ::testing::MatchesRegex("Song\n.*\nHotSync your device to update your Ring Tones.\n"));
    EXPECT_THAT(asString(readFile(path("user/.jpilot/jpilot.install"))), HasSubstr(db()));
}

} // namespace
} // namespace chwr
