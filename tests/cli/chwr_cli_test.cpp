// chwr as a Unix user drives it: one JSON object per command with --json, --version,
// "-" for standard input and output, exit status 2 for bad usage, and a man page that
// names what --help names.

#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using test::ProcessResult;
using ::testing::HasSubstr;

// A value the output may hold anything for (a path of this machine, a count of frames).
const Json kAny = "*";

std::string chwrProgram()
{
    return (test::binaryDir() / "cli" / "chwr").string();
}

class ChwrCliTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        test::SmfBuilder song(1, 480);
        song.track()
            .tempo(0, 500000)
            .programChange(0, 0, 10)
            .noteOn(0, 0, 60, 100)
            .noteOff(960, 0, 60)
            .endOfTrack();
        m_song = song.build();
        writeFile("song.mid", m_song);
        writeFile("tones.PDB", test::PdbBuilder()
                                   .ringTone("Chime", test::bytesOf("MThd-chime"))
                                   .ringTone("Bell", test::bytesOf("MThd-bell@"))
                                   .modnumber(41)
                                   .build());
    }
    // chwr with the words of `line`, in the test folder.
    ProcessResult chwr(const std::string& line) const
    {
        std::vector<std::string> args{chwrProgram()};
        std::istringstream words(line);
        for (std::string word; words >> word;)
            args.push_back(word);
        return test::runProcess(args, folder());
    }
    // A shell command line with "chwr" in it, for pipes and redirections.
    ProcessResult shell(const std::string& line) const
    {
        return test::runProcess({"sh", "-c", "chwr() { \"$0\" \"$@\"; }; " + line, chwrProgram()}, folder());
    }

    Bytes m_song;
};

// The keys in order and their values, but kAny matches any value.
void expectJson(const Json& actual, const Json& expected)
{
    ASSERT_EQ(actual.size(), expected.size()) << actual.dump();
    auto a = actual.items().begin();
    for (const auto& [key, value] : expected.items()) {
        EXPECT_EQ(a.key(), key) << actual.dump();
        if (value != kAny) {
            EXPECT_EQ(a.value(), value) << key;
        }
        ++a;
    }
}

Json tone(int index, const std::string& name, int size, bool added)
{
    return {{"index", index}, {"name", name}, {"size", size}, {"added", added}};
}

TEST_F(ChwrCliTest, EveryCommandPrintsOneJsonObject)
{
    const Json programs = [] {
        Json channels;
        for (int channel = 1; channel <= 16; ++channel)
            channels[std::to_string(channel)] = channel == 1 ? 10 : -1;
        return channels;
    }();
    const auto song = static_cast<int>(m_song.size());
    const struct {
        std::string line;
        int exitCode;
        Json expected;
    } cases[] = {
        {"list tones.PDB --json",
         0,
         {{"records", 2},
          {"modnumber", 41},
          {"ringtones", {tone(1, "Chime", 10, false), tone(2, "Bell", 10, true)}}}},
        {"add tones.PDB song.mid --json --no-install", 0, {{"added", {"song"}}, {"install", nullptr}}},
        {"rename tones.PDB 1 Gong --no-install --json",
         0,
         {{"records", 3},
          {"modnumber", 43},
          {"ringtones",
           {tone(1, "Gong", 10, false), tone(2, "Bell", 10, true), tone(3, "song", song + 1, true)}},
          {"install", nullptr}}},
        {"remove tones.PDB 2 --json --no-install",
         0,
         {{"records", 2},
          {"modnumber", 44},
          {"ringtones", {tone(1, "Gong", 10, false), tone(2, "song", song + 1, true)}},
          {"install", nullptr}}},
        {"list tones.PDB --json",
         0,
         {{"records", 2},
          {"modnumber", 44},
          {"ringtones", {tone(1, "Gong", 10, false), tone(2, "song", song + 1, true)}}}},
        {"export tones.PDB 1 out.mid --json", 0, {{"file", "out.mid"}, {"size", 10}}},
        {"info song.mid --json",
         0,
         {{"format", 1},
          {"tracks", 1},
          {"division", 480},
          {"tempo", 500000},
          {"length_ticks", 960},
          {"length_ms", 1000},
          {"programs", programs}}},
        {"modify song.mid copy.mid --json",
         0,
         {{"file", "copy.mid"}, {"size", song}, {"tracks", 1}, {"start_ms", 0}, {"end_ms", 1000}}},
        {"modify song.mid cut.mid --start-ms=250 --end-ms 750 --json",
         0,
         {{"file", "cut.mid"}, {"size", kAny}, {"tracks", 1}, {"start_ms", 250}, {"end_ms", 750}}},
        {"modify song.mid fit.mid --fit --max-bytes 100000 --compact --json",
         0,
         {{"file", "fit.mid"},
          {"size", kAny},
          {"tracks", 1},
          {"start_ms", 0},
          {"end_ms", 1000},
          {"compacted", true},
          {"fit",
           {{"end_ms", 1000}, {"max_bytes", 100000}, {"song_end", true}, {"size_one_ms_later", nullptr}}}}},
        // The Note Off becomes a Note On of velocity 0 under the running status.
        {"compact song.mid lean.mid --json",
         0,
         {{"file", "lean.mid"},
          {"size_before", song},
          {"size_after", song - 1},
          {"format", 1},
          {"tracks", 1},
          {"removed", kAny},
          {"note_offs_rewritten", 1},
          {"status_bytes_saved", 1},
          {"kept_source", false}}},
        {"render song.mid song.wav --json",
         0,
         {{"source", "song.mid"},
          {"length_ms", 1000},
          {"file", "song.wav"},
          {"soundfont", kAny},
          {"frames", kAny},
          {"sample_rate", 44100}}},
        {"remove tones.PDB 3 --json",
         1,
         {{"error", "There is no ring tone 3: the ring tones are numbered 1 to 2."}}},
        {"info none.mid --json", 1, {{"error", "Cannot open \"none.mid\": No such file or directory"}}},
        {"modify song.mid x.mid --end-ms 1001 --json",
         1,
         {{"error", "End Mark cannot exceed the length of the MIDI Song."}}},
        {"modify song.mid x.mid --fit --max-bytes 20 --json", 1, {{"error", kAny}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ProcessResult run = chwr(c.line);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out.back(), '\n');
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1); // one object, one line
        expectJson(Json::parse(run.out), c.expected);
    }
    EXPECT_EQ(readFile(path("copy.mid")), m_song);
    EXPECT_EQ(fs::file_size(path("out.mid")), 10U);
    EXPECT_FALSE(fs::exists(path("x.mid")));
}

TEST_F(ChwrCliTest, VersionIsTheProgramsOwn)
{
    for (const char* word : {"--version", "-V"}) {
        ProcessResult run = chwr(word);
        EXPECT_EQ(std::tie(run.exitCode, run.out, run.err), std::tuple(0, "chwr " CHWR_VERSION "\n", ""))
            << word;
    }
}

TEST_F(ChwrCliTest, ADashIsStandardInputOrOutput)
{
    ProcessResult run = shell("chwr info - --json < song.mid");
    EXPECT_EQ(std::tie(run.exitCode, run.out), std::tuple(0, chwr("info song.mid --json").out)) << run.err;
    EXPECT_EQ(shell("chwr info - < song.mid").out.substr(0, 8), "File: -\n");
    // The same bytes through a pipe as through files, and nothing else on standard output.
    ASSERT_EQ(chwr("modify song.mid cut.mid --start-ms 100 --adjust 1:octave=1").exitCode, 0);
    run = shell("cat song.mid | chwr modify - - --start-ms 100 --adjust 1:octave=1 > piped.mid");
    EXPECT_EQ(std::tie(run.exitCode, run.err), std::tuple(0, "")) << run.err;
    EXPECT_EQ(readFile(path("piped.mid")), readFile(path("cut.mid")));
    run = shell("chwr export tones.PDB 2 - | od -c | head -1");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_THAT(run.out, HasSubstr("M   T   h   d   -   b   e   l   l   @"));
    // A refused input leaves the output as it was; with --json, standard output is taken.
    run = shell("chwr modify - out.mid < /dev/null");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(fs::exists(path("out.mid")));
    EXPECT_EQ(chwr("modify song.mid - --json").exitCode, 2);
    EXPECT_EQ(chwr("export tones.PDB 1 - --json").exitCode, 2);
}

TEST_F(ChwrCliTest, BadUsageExitsWithTwoAndTheSynopsis)
{
    for (const std::string line :
         {"list tones.PDB --json=maybe", "list tones.PDB -x", "add tones.PDB song.mid --name",
          "export tones.PDB 1", "export tones.PDB one out.mid", "remove tones.PDB 1 --force",
          "rename tones.PDB 1", "info song.mid --xml", "info", "modify song.mid out.mid --start-ms",
          "modify song.mid out.mid --end-ms 0x10", "modify song.mid out.mid --adjust 1:octave=x", "play",
          "play song.mid --volume 3", "render song.mid", "render song.mid out.wav --soundfont"}) {
        ProcessResult run = chwr(line);
        const std::string command = line.substr(0, line.find(' '));
        EXPECT_EQ(std::tie(run.exitCode, run.out), std::tuple(2, "")) << line;
        EXPECT_THAT(run.err, HasSubstr("chwr " + command + ": ")) << line;
        EXPECT_THAT(run.err, HasSubstr("\nUsage: chwr " + command + " ")) << line;
    }
    for (const std::string line :
         {"modify song.mid out.mid --fit --end-ms 500", "modify song.mid out.mid --max-bytes 5",
          "modify song.mid out.mid --fit --max-bytes 0", "compact song.mid",
          "compact song.mid out.mid --keep", "compact song.mid - --json"}) {
        ProcessResult run = chwr(line);
        EXPECT_EQ(std::tie(run.exitCode, run.out), std::tuple(2, "")) << line;
        EXPECT_THAT(run.err, HasSubstr("\nUsage: chwr " + line.substr(0, line.find(' ')) + " ")) << line;
    }
    EXPECT_EQ(chwr("").exitCode, 2);
    EXPECT_EQ(chwr("sing song.mid").err, "chwr: unknown command \"sing\" (chwr --help lists the commands)\n");
    // After "--" every word is an argument, even one that looks like an option.
    EXPECT_EQ(chwr("rename tones.PDB 1 --no-install -- --Gong--").exitCode, 0);
    EXPECT_THAT(chwr("list tones.PDB").out, HasSubstr("1\t--Gong--\t"));
    EXPECT_THAT(chwr("remove tones.PDB --help").out, testing::StartsWith("Usage: chwr remove DB INDEX"));
}

// A song over the ring tone limit becomes one: modify finds the end mark, add crops there,
// and compact writes standard output as it writes a file.
TEST_F(ChwrCliTest, FitMakesALargeSongARingTone)
{
    test::SmfBuilder song(0, 480);
    test::TrackBuilder& track = song.track();
    track.text(0, "a long song");
    for (int i = 0; i < 12000; ++i)
        track.noteOn(0, i % 16, 40 + i % 40, 90).noteOff(48, i % 16, 40 + i % 40, 64);
    track.endOfTrack();
    writeFile("long.mid", song.build());
    EXPECT_EQ(chwr("add tones.PDB long.mid --no-install").exitCode, 1);

    ProcessResult run = chwr("modify long.mid fit.mid --fit --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json fitted = Json::parse(run.out);
    EXPECT_LE(fitted["size"], 64000);
    EXPECT_GT(fitted["fit"]["size_one_ms_later"], 64000);
    const long long endMs = fitted["fit"]["end_ms"];
    run = chwr("modify long.mid later.mid --json --end-ms " + std::to_string(endMs + 1));
    EXPECT_EQ(Json::parse(run.out)["size"], fitted["fit"]["size_one_ms_later"]);

    run = chwr("add tones.PDB long.mid --fit --no-install --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json added = Json::parse(run.out);
    EXPECT_EQ(added["added"], Json({"long"}));
    EXPECT_LE(added["fitted"][0]["size"], 64000);
    EXPECT_TRUE(added["fitted"][0]["end_ms"].is_number());
    EXPECT_THAT(chwr("list tones.PDB").out,
                HasSubstr("3\tlong\t" + std::to_string(added["fitted"][0]["size"].get<int>() + 1)));

    run = shell("chwr compact long.mid - > piped.mid");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_THAT(run.err, HasSubstr("Removed: 1 text\n"));
    ASSERT_EQ(chwr("compact long.mid lean.mid").exitCode, 0);
    EXPECT_EQ(readFile(path("piped.mid")), readFile(path("lean.mid")));
}

// The words that start with "--" in a text; in roff a dash is written "\\-".
std::set<std::string> optionsIn(std::string text)
{
    for (std::size_t at = 0; (at = text.find("\\-", at)) != std::string::npos;)
        text.erase(at, 1);
    std::set<std::string> options;
    for (std::size_t at = 0; (at = text.find("--", at)) != std::string::npos;) {
        std::size_t end = at + 2;
        if (end < text.size() && text[end] >= 'a' && text[end] <= 'z') {
            while (end < text.size() && ((text[end] >= 'a' && text[end] <= 'z') || text[end] == '-'))
                ++end;
            options.insert(text.substr(at, end - at));
        }
        at = end;
    }
    return options;
}

// The words that follow each `prefix` at the start of a line, up to the next space or line end.
std::vector<std::string> wordsAfter(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> words;
    for (std::size_t at = 0; (at = text.find("\n" + prefix, at)) != std::string::npos;) {
        at += prefix.size() + 1;
        std::size_t end = at;
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
            ++end;
        if (end > at && (end == text.size() || text[end] == ' ' || text[end] == '\n'))
            words.push_back(text.substr(at, end - at));
    }
    return words;
}

TEST_F(ChwrCliTest, TheManPageNamesWhatHelpNames)
{
    std::ifstream file(test::binaryDir() / "chwr.1");
    ASSERT_TRUE(file) << "chwr.1 is copied into the build folder";
    const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::vector<std::string> sections = wordsAfter(page, ".SS ");
    const std::set<std::string> pageCommands(sections.begin(), sections.end());

    const ProcessResult usage = chwr("--help");
    ASSERT_EQ(usage.exitCode, 0);
    std::set<std::string> commands;
    std::set<std::string> options = optionsIn(usage.out);
    for (const std::string& command : wordsAfter(usage.out, "  ")) {
        commands.insert(command);
        ProcessResult help = chwr(command + " --help");
        EXPECT_EQ(help.exitCode, 0) << command;
        options.merge(optionsIn(help.out));
    }
    EXPECT_EQ(commands.size(), 10U);
    EXPECT_EQ(pageCommands, commands);
    EXPECT_EQ(optionsIn(page), options);
}

} // namespace
} // namespace chwr
