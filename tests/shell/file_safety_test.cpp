// The file layer: writes through links land where the link points with the mode and owner
// of the file they replace, folders are flushed after each rename, temporary names stay
// short, something other than a file is refused at once, and proposed file names are free
// and fit 255 bytes; also the program folder and the Windows code page. That a write
// replaces a file whole or not at all is walked step by step in fault_injection_test.

#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "shell/windows1252.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using namespace ::testing;
using namespace std::literals;

class FileSafetyTest : public test::TempFolderTest {
protected:
    static struct stat statOf(const fs::path& path)
    {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info;
    }
    static mode_t modeOf(const fs::path& path) { return statOf(path).st_mode & 07777; }
};

TEST_F(FileSafetyTest, ReadRefusesMissingFilesAndFilesOverTheLimit)
{
    EXPECT_THAT(readFileBytes(path("nothing.mid")).error(), HasSubstr("nothing.mid\": No such file"));
    auto big = writeFile("big.mid", Bytes(100, 0x41));
    EXPECT_THAT(readFileBytes(big, 99).error(), HasSubstr("larger than 99 bytes"));
    EXPECT_EQ(readFileBytes(big, 100).value(), Bytes(100, 0x41));
}

TEST_F(FileSafetyTest, AWriteThroughALinkReplacesTheFileItPointsToAndKeepsItsMode)
{
    const fs::path real = writeFile("real/settings.reg", asBytes("old"));
    ::chmod(real.c_str(), 0640);
    fs::create_directories(path("links"));
    fs::create_symlink("../real/settings.reg", path("links/settings.reg"));
    fs::create_symlink(path("links/settings.reg"), path("links/chain.reg"));
    std::vector<std::pair<FileOp, fs::path>> operations;
    setFileFaultHook([&](FileOp op, const fs::path& path) {
        operations.emplace_back(op, path);
        return 0;
    });
    ASSERT_TRUE(writeFileAtomic(path("links/chain.reg"), asBytes("new")));
    setFileFaultHook({});
    EXPECT_TRUE(fs::is_symlink(path("links/settings.reg")));
    EXPECT_EQ(asString(readFile(real)), "new");
    EXPECT_EQ(modeOf(real), 0640u);
    // The temporary file was made beside the real file, under a short name; the folder flushed last.
    ASSERT_GE(operations.size(), 2u);
    const fs::path realFolder = fs::canonical(path("real"));
    EXPECT_EQ(operations.front().first, FileOp::OpenWrite);
    EXPECT_EQ(operations.front().second.parent_path(), realFolder);
    EXPECT_THAT(operations.front().second.filename().string(), MatchesRegex("\\.chwr-.{6}"));
    EXPECT_EQ(operations.back(), std::make_pair(FileOp::SyncFolder, realFolder));
    EXPECT_THAT(listFolder(path("real")), ElementsAre("settings.reg"));
    // A link to nowhere is written where it points.
    fs::create_symlink("made.reg", path("links/dangling.reg"));
    ASSERT_TRUE(writeFileAtomic(path("links/dangling.reg"), asBytes("x")));
    EXPECT_EQ(asString(readFile(path("links/made.reg"))), "x");
    EXPECT_TRUE(fs::is_symlink(path("links/dangling.reg")));
}

TEST_F(FileSafetyTest, ACopyInPlaceOfALinkKeepsTheModeOfTheFileItCopies)
{
    const fs::path from = writeFile("db.pdb", asBytes("database"));
    const fs::path to = writeFile("db.bak", asBytes("older backup"));
    ::chmod(from.c_str(), 0604);
    ::chmod(to.c_str(), 0600);
    for (int error : {EXDEV, EPERM}) {
        setFileFaultHook([=](FileOp op, const fs::path&) { return op == FileOp::Link ? error : 0; });
        ASSERT_TRUE(linkOrCopyFile(from, to));
        setFileFaultHook({});
        EXPECT_EQ(asString(readFile(to)), "database");
        EXPECT_EQ(modeOf(to), 0604u);
        EXPECT_EQ(statOf(to).st_nlink, 1u);
        ::chmod(to.c_str(), 0600);
    }
    // `to` already being `from` is nothing to do.
    ASSERT_TRUE(linkOrCopyFile(from, path("second.bak")));
    ASSERT_TRUE(linkOrCopyFile(from, path("second.bak")));
    EXPECT_THAT(listFolder(folder()), ElementsAre("db.bak", "db.pdb", "home", "second.bak"));
}

TEST_F(FileSafetyTest, TheNewFileTakesTheOwnerAndGroupOfTheOldWherePermitted)
{
    const fs::path target = writeFile("owned.txt", asBytes("old"));
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may give a file away; others keep their own (EPERM is ignored)";
    ASSERT_EQ(::chown(target.c_str(), 4321, 8765), 0);
    ASSERT_TRUE(writeFileAtomic(target, asBytes("new")));
    EXPECT_EQ(std::tuple(statOf(target).st_uid, statOf(target).st_gid), std::tuple(4321u, 8765u));
}

TEST_F(FileSafetyTest, SomethingOtherThanAFileIsRefusedAtOnceAsInputAndAsOutput)
{
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    fs::create_directories(path("folder"));
    fs::create_symlink(path("pipe"), path("link-to-pipe"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path("sock").string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::pair<fs::path, const char*> cases[] = {{path("pipe"), "a named pipe (FIFO)"},
                                                      {path("link-to-pipe"), "a named pipe (FIFO)"},
                                                      {path("folder"), "a folder"},
                                                      {path("sock"), "a socket"},
                                                      {"/dev/null", "a device"}};
    for (const auto& [file, kind] : cases) {
        SCOPED_TRACE(file.string());
        const std::string expected = "\"" + file.string() + "\": it is " + kind + ", not a file.";
        EXPECT_EQ(readFileBytes(file).error(), "Cannot read " + expected);
        if (file == "/dev/null")
            continue;
        EXPECT_EQ(writeFileAtomic(file, asBytes("x")).error(), "Cannot write " + expected);
        EXPECT_EQ(OutputFile::create(file).error(), "Cannot write " + expected);
        EXPECT_EQ(linkOrCopyFile(path("nothing"), file).error(), "Cannot write " + expected);
    }
    ::close(sock);
    EXPECT_TRUE(fs::is_fifo(path("pipe")));
}

TEST_F(FileSafetyTest, AWriteOverItsOwnInputIsRefused)
{
    const fs::path input = writeFile("in.pdb", asBytes("db"));
    fs::create_symlink(input, path("link.pdb"));
    fs::create_hard_link(input, path("hard.pdb"));
    for (const fs::path& same : {input, path("link.pdb"), path("hard.pdb"), path("./in.pdb")})
        EXPECT_EQ(checkNotWritingOver(same, input, "the database").error(),
                  "\"" + same.string() +
                      "\" is the database itself; nothing was written. Choose another file.");
    EXPECT_TRUE(checkNotWritingOver(path("other.mid"), input, "the database"));
    EXPECT_TRUE(checkNotWritingOver(writeFile("copy.pdb", asBytes("db")), input, "the database"));
}

TEST_F(FileSafetyTest, NamesAreCutTo255BytesOnACharacterBoundary)
{
    const std::string e = "\xC3\xA9"; // é, two bytes
    const std::tuple<std::string, std::size_t, std::string> cases[] = {
        {"abc", 3, "abc"}, {"abcd", 3, "abc"}, {"a" + e, 2, "a"}, {e + e, 3, e}, {"\xE2\x82\xAC", 2, ""}};
    for (const auto& [text, limit, cut] : cases)
        EXPECT_EQ(CutUtf8(text, limit), cut) << text;
    std::string long_;
    for (int i = 0; i < 200; ++i)
        long_ += e;
    const std::string fitted = FitFileName(long_, ".mid");
    EXPECT_EQ(fitted, long_.substr(0, 250) + ".mid");
    // Names this long are written and linked: a temporary name is short whatever its target's.
    ASSERT_TRUE(writeFileAtomic(path(fitted), asBytes("one")));
    EXPECT_EQ(UniqueFileName(folder(), fitted), long_.substr(0, 246) + " (1).mid");
    // With the counter's place near the start, the text after it is cut.
    const std::string dotted = "v." + long_.substr(0, 248) + ".mid";
    ASSERT_TRUE(linkOrCopyFile(path(fitted), path(dotted)));
    EXPECT_EQ(asString(readFile(path(dotted))), "one");
    EXPECT_EQ(UniqueFileName(folder(), dotted), "v (1)." + long_.substr(0, 244) + ".mid");
}

TEST_F(FileSafetyTest, CountersGoBeforeTheFirstCounterElseTheFirstDotAndAStemEndsThere)
{
    const std::pair<const char*, const char*> stems[] = {
        {"Ring.mid", "Ring"}, {"Ring (2).mid", "Ring"}, {"My.Song.mid", "My"},     {"Ring", "Ring"},
        {".hidden.mid", ""},  {"a.b (1).mid", "a.b"},   {"Ring(2).mid", "Ring(2)"}};
    for (auto [title, stem] : stems)
        EXPECT_EQ(NameStem(title), stem) << title;

    for (auto name : {"Ring.mid", "Ring (1).mid", "My.Song.mid", "Song (1).mid", "Song (1) (1).mid", "Ring"})
        writeFile(name, {});
    std::filesystem::create_directories(path("Folder.mid")); // no file, so the name is free
    std::vector<std::string> unique;
    for (auto name : {"Free.mid", "Folder.mid", "Ring.mid", "My.Song.mid", "Song (1).mid", "Ring"})
        unique.push_back(UniqueFileName(folder(), name));
    EXPECT_THAT(unique, ElementsAre("Free.mid", "Folder.mid", "Ring (2).mid", "My (1).Song.mid",
                                    "Song (2) (1).mid", "Ring (1)"));
}

TEST(FileNames, IntegerPartsAndSafeFileNames)
{
    const double nan = std::nan(""), infinity = std::numeric_limits<double>::infinity();
    const auto max = std::numeric_limits<std::int64_t>::max();
    const std::pair<double, std::int64_t> parts[] = {
        {0.999, 0}, {1, 1}, {2.75, 2}, {-3, 0}, {nan, 0}, {32768.5, 32768}, {0x1p63, max}, {infinity, max}};
    for (auto [number, whole] : parts)
        EXPECT_EQ(IntegerPart(number), whole) << number;

    EXPECT_EQ(SafeFileName("a/b\\c<d>e:f\"g|h?i*j\tk\x7Fl\0m"sv), "a_b_c_d_e_f_g_h_i_j_k_l_m");
    EXPECT_EQ(SafeFileName("Caf\xC3\xA9 (2)"), "Caf\xC3\xA9 (2)");
}

TEST_F(FileSafetyTest, TheProgramFolderGetsItsDebugTxtOnceAndAFailedSetUpLeavesNoPartFile)
{
    writeFile("home/midi", asBytes("a file where the folder should be"));
    EXPECT_THAT(setUpProgramFolder().error(), HasSubstr("Cannot create the folder"));
    std::filesystem::remove_all(home());
    setFileFaultHook(
        [](FileOp op, const std::filesystem::path&) { return op == FileOp::Write ? ENOSPC : 0; });
    EXPECT_THAT(setUpProgramFolder().error(), HasSubstr("No space left on device"));
    EXPECT_THAT(listFolder(home() / "midi"), ElementsAre());
    setFileFaultHook({});
    EXPECT_TRUE(setUpProgramFolder().value());
    EXPECT_EQ(asString(readFile(home() / "midi" / "debug.txt")), "Chimewright Vuruva\r\n");
    writeFile("home/midi/debug.txt", {}); // emptied, to see that a later start leaves it alone
    EXPECT_FALSE(setUpProgramFolder().value());
    EXPECT_TRUE(readFile(debugLogPath()).empty());
}

TEST(Windows1252, DecodesTheCodePageAndEncodesAQuestionMarkForWhatItCannotHold)
{
    EXPECT_EQ(windows1252ToUtf8(Bytes{'R', 0x80, 0x81, 0x99, 0x9F, 0xA0, 0xE9}),
              "R\xE2\x82\xAC\xC2\x81\xE2\x84\xA2\xC5\xB8\xC2\xA0\xC3\xA9");
    Bytes all(256);
    for (std::size_t b = 0; b < all.size(); ++b)
        all[b] = static_cast<std::uint8_t>(b);
    EXPECT_EQ(utf8ToWindows1252(windows1252ToUtf8(all)), all);
    // Greek alpha, a CJK character and an emoji; then a lone continuation byte, a lead
    // without its continuation, an overlong "/", a surrogate, a character past U+10FFFF,
    // a byte that leads nothing and a sequence cut short by the end.
    EXPECT_EQ(
        asString(utf8ToWindows1252("\xCE\xB1|\xE4\xB8\xAD|\xF0\x9F\x8E\xB5|\x80|\xC3|\xC0\xAF|\xED\xA0\x80|"
                                   "\xF4\x90\x80\x80|\xF8|\xE2\x82")),
        "?|?|?|?|?|??|???|????|?|??");
}

} // namespace
} // namespace chwr
