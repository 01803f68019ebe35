// chwr as a Unix user drives it: one JSON object per command with --json, --version,
// "-" for standard input and output, exit status 2 for bad usage, and a man page that
// names what --help names.

#include "tests/midi_edit/midi_test_util.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using test::ProcessResult;
using namespace ::testing;

// A value the output may hold anything for (a path of this machine, a count of frames).
const Json kAny = "*";

class ChwrCliTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        writeFile("song.mid", m_song);
        writeFile("tones.PDB", test::pdb({{"Chime", "MThd-chime"}, {"Bell", "MThd-bell@"}}, 41));
    }
    // A shell command line in the test folder, where "chwr" runs the build's chwr.
    ProcessResult shell(const std::string& line) const
    {
        const std::string program = (test::binaryDir() / "cli" / "chwr").string();
        return test::runProcess({"sh", "-c", "chwr() { \"$0\" \"$@\"; }; " + line, program}, folder());
    }
    ProcessResult chwr(const std::string& arguments) const { return shell("chwr " + arguments); }

    // One note of 960 ticks on Channel 1, program 10, at 500000 microseconds per quarter: 45 bytes.
    const Bytes m_song =
        test::withTracks(test::smfHeader(1, 1, 480),
                         {test::hex("00 FF 51 03 07 A1 20|00 C0 0A|00 90 3C 64|87 40 80 3C 00|00 FF 2F 00")});
};

// list and info print theirs in the tests of those commands, rename as remove does, and the
// size modify prints is checked by FitMakesALargeSongARingTone. An "error" is told with exit status 1.
TEST_F(ChwrCliTest, EveryCommandPrintsOneJsonObject)
{
    const std::pair<std::string, Json> cases[] = {
        {"add tones.PDB song.mid --json --no-install", {{"added", {"song"}}, {"install", nullptr}}},
        // The ring tone added from song.mid holds its 45 bytes and the added mark.
        {"remove tones.PDB 2 --json --no-install",
         Json::parse(R"({"records": 2, "modnumber": 43, "ringtones": [
             {"index": 1, "name": "Chime", "size": 10, "added": false},
             {"index": 2, "name": "song", "size": 46, "added": true}], "install": null})")},
        {"export tones.PDB 1 out.mid --json", {{"file", "out.mid"}, {"size", 10}}},
        {"modify song.mid cut.mid --start-ms=250 --end-ms 750 --json",
         {{"file", "cut.mid"}, {"size", kAny}, {"tracks", 1}, {"start_ms", 250}, {"end_ms", 750}}},
        {"modify song.mid fit.mid --fit --max-bytes 100000 --compact --json",
         Json::parse(R"({"file": "fit.mid", "size": "*", "tracks": 1, "start_ms": 0, "end_ms": 1000,
             "compacted": true, "fit": {"end_ms": 1000, "max_bytes": 100000, "song_end": true,
             "size_one_ms_later": null}})")},
        // The Note Off becomes a Note On of velocity 0 under the running status.
        {"compact song.mid lean.mid --json",
         Json::parse(R"({"file": "lean.mid", "size_before": 45, "size_after": 44, "format": 1, "tracks": 1,
             "removed": "*", "note_offs_rewritten": 1, "status_bytes_saved": 1, "kept_source": false})")},
        {"render song.mid song.wav --json",
         Json::parse(R"({"source": "song.mid", "length_ms": 1000, "file": "song.wav", "soundfont": "*",
             "frames": "*", "sample_rate": 44100})")},
        {"remove tones.PDB 3 --json",
         {{"error", "There is no ring tone 3: the ring tones are numbered 1 to 2."}}},
        {"info none.mid --json", {{"error", "Cannot open \"none.mid\": No such file or directory"}}},
        {"modify song.mid x.mid --fit --max-bytes 20 --json", {{"error", kAny}}},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        ProcessResult run = chwr(line);
        EXPECT_EQ(run.exitCode, expected.contains("error") ? 1 : 0) << run.err;
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1); // one object, one line
        Json actual = Json::parse(run.out);
        for (const auto& [key, value] : expected.items())
            if (value == kAny && actual.contains(key))
                actual[key] = kAny;
        EXPECT_EQ(actual, expected); // the keys in order too
    }
    EXPECT_FALSE(fs::exists(path("x.mid")));
}

TEST_F(ChwrCliTest, ADashIsStandardInputOrOutput)
{
    EXPECT_THAT(shell("chwr info - --json < song.mid"), FieldsAre(0, chwr("info song.mid --json").out, ""));
    EXPECT_EQ(shell("chwr info - < song.mid").out.substr(0, 8), "File: -\n");
    // The same bytes through a pipe as through a file, and nothing else on standard output.
    ASSERT_EQ(chwr("modify song.mid cut.mid --start-ms 100 --adjust 1:octave=1").exitCode, 0);
    EXPECT_THAT(shell("cat song.mid | chwr modify - - --start-ms 100 --adjust 1:octave=1"),
                FieldsAre(0, asString(readFile(path("cut.mid"))), ""));
    EXPECT_THAT(chwr("export tones.PDB 2 -"), FieldsAre(0, "MThd-bell@", ""));
    // A refused input leaves the output as it was.
    EXPECT_EQ(shell("chwr modify - out.mid < /dev/null").exitCode, 1);
    EXPECT_FALSE(fs::exists(path("out.mid")));
}

TEST_F(ChwrCliTest, VersionAndBadUsageWhichExitsWithTwoAndTheSynopsis)
{
    for (const char* word : {"--version", "-V"})
        EXPECT_THAT(chwr(word), FieldsAre(0, "chwr " CHWR_VERSION "\n", "")) << word;
    // More bad usage of add, export, rename, info and render is refused in their own tests.
    for (const std::string line :
         {"list tones.PDB --json=maybe", "list tones.PDB -x", "export tones.PDB 1",
          "export tones.PDB 1 - --json", "remove tones.PDB 1 --force", "modify song.mid out.mid --start-ms",
          "modify song.mid out.mid --end-ms 0x10", "modify song.mid out.mid --adjust 1:octave=x",
          "modify song.mid - --json", "modify song.mid out.mid --fit --end-ms 500",
          "modify song.mid out.mid --max-bytes 5", "modify song.mid out.mid --fit --max-bytes 0",
          "compact song.mid", "compact song.mid out.mid --keep", "compact song.mid - --json", "play",
          "play song.mid --volume 3", "render song.mid out.wav --soundfont"}) {
        const std::string command = line.substr(0, line.find(' '));
        const auto says =
            AllOf(StartsWith("chwr " + command + ": "), HasSubstr("\nUsage: chwr " + command + " "));
        EXPECT_THAT(chwr(line), FieldsAre(2, "", says)) << line;
    }
    EXPECT_EQ(chwr("").exitCode, 2);
    EXPECT_EQ(chwr("sing song.mid").err, "chwr: unknown command \"sing\" (chwr --help lists the commands)\n");
    // After "--" every word is an argument, even one that looks like an option.
    EXPECT_EQ(chwr("rename tones.PDB 1 --no-install -- --Gong--").exitCode, 0);
    EXPECT_THAT(chwr("list tones.PDB").out, HasSubstr("1\t--Gong--\t"));
    EXPECT_THAT(chwr("remove tones.PDB --help").out, StartsWith("Usage: chwr remove DB INDEX"));
}

// A song over the ring tone limit becomes one: modify finds the end mark, add crops there,
// and compact writes standard output as it writes a file.
TEST_F(ChwrCliTest, FitMakesALargeSongARingTone)
{
    test::Track track;
    track.text(0, "a long song");
    for (int i = 0; i < 12000; ++i)
        track.noteOn(0, i % 16, 40 + i % 40, 90).noteOff(48, i % 16, 40 + i % 40, 64);
    writeFile("long.mid", test::song(480, {track.endOfTrack().events()}));

    ProcessResult run = chwr("modify long.mid fit.mid --fit --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json fitted = Json::parse(run.out);
    EXPECT_LE(fitted["size"], 64000);
    EXPECT_GT(fitted["fit"]["size_one_ms_later"], 64000);

    run = chwr("add tones.PDB long.mid --fit --no-install --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json added = Json::parse(run.out);
    EXPECT_LE(added["fitted"][0]["size"], 64000);
    EXPECT_TRUE(added["fitted"][0]["end_ms"].is_number());
    EXPECT_THAT(chwr("list tones.PDB").out,
                HasSubstr("3\tlong\t" + std::to_string(added["fitted"][0]["size"].get<int>() + 1)));

    ASSERT_EQ(chwr("compact long.mid lean.mid").exitCode, 0);
    EXPECT_THAT(chwr("compact long.mid -"),
                FieldsAre(0, asString(readFile(path("lean.mid"))), HasSubstr("Removed: 1 text\n")));
}

// The words that start with "--" in a text; in roff a dash is written "\-". Scanned by
// hand: std::regex trips GCC 12's maybe-uninitialized warning in the sanitizer build.
std::set<std::string> optionsIn(std::string text)
{
    for (std::size_t at = 0; (at = text.find("\\-", at)) != std::string::npos;)
        text.erase(at, 1);
    std::set<std::string> options;
    for (std::size_t at = 0; (at = text.find("--", at)) != std::string::npos;) {
        const std::size_t end =
            std::min(text.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2), text.size());
        if (end > at + 2 && text[at + 2] != '-')
            options.insert(text.substr(at, end - at));
        at = end;
    }
    return options;
}

// The first word of each line that starts with `prefix` and then no space.
std::set<std::string> firstWords(const std::string& text, const std::string& prefix)
{
    std::set<std::string> words;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(prefix) && line.size() > prefix.size() && line[prefix.size()] != ' ')
            words.insert(line.substr(prefix.size(), line.find(' ', prefix.size()) - prefix.size()));
    return words;
}

TEST_F(ChwrCliTest, TheManPageNamesWhatHelpNames)
{
    const std::string page = asString(readFile(test::binaryDir() / "chwr.1"));
    const ProcessResult usage = chwr("--help");
    ASSERT_EQ(usage.exitCode, 0);
    const std::set<std::string> commands = firstWords(usage.out, "  ");
    std::set<std::string> options = optionsIn(usage.out);
    for (const std::string& command : commands) {
        ProcessResult help = chwr(command + " --help");
        EXPECT_EQ(help.exitCode, 0) << command;
        options.merge(optionsIn(help.out));
    }
    EXPECT_EQ(commands.size(), 10U);
    EXPECT_EQ(firstWords(page, ".SS "), commands);
    EXPECT_EQ(optionsIn(page), options);
}

} // namespace
} // namespace chwr
