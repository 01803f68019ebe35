// The file layer's safety: writes through links land where the link points with the
// mode and owner of the file they replace, folders are flushed after each rename,
// temporary names stay short, something other than a file is refused at once, and
// proposed file names fit a file system's 255 bytes.

#include "shell/file_helpers.h"
#include "shell/file_io.h"

#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

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
    // The temporary file was made beside the real file under a short name of its own,
    // and the folder was flushed after the rename.
    ASSERT_GE(operations.size(), 2u);
    const fs::path realFolder = fs::canonical(path("real"));
    EXPECT_EQ(operations.front().first, FileOp::OpenWrite);
    EXPECT_EQ(operations.front().second.parent_path(), realFolder);
    EXPECT_THAT(operations.front().second.filename().string(), ::testing::MatchesRegex("\\.chwr-.{6}"));
    EXPECT_EQ(operations.back(), std::make_pair(FileOp::SyncFolder, realFolder));
    EXPECT_THAT(listFolder(path("real")), ElementsAre("settings.reg"));
    // A link to nowhere is written where it points.
    fs::create_symlink("made.reg", path("links/dangling.reg"));
    ASSERT_TRUE(writeFileAtomic(path("links/dangling.reg"), asBytes("x")));
    EXPECT_EQ(asString(readFile(path("links/made.reg"))), "x");
    EXPECT_TRUE(fs::is_symlink(path("links/dangling.reg")));
}

TEST_F(FileSafetyTest, ANameOf255BytesIsWrittenAndLinked)
{
    const std::string name(255, 'n'), second = std::string(254, 'b') + "k";
    Result<void> written = writeFileAtomic(path(name), asBytes("one"));
    ASSERT_TRUE(written) << written.error();
    Result<void> linked = linkOrCopyFile(path(name), path(second));
    ASSERT_TRUE(linked) << linked.error();
    EXPECT_EQ(asString(readFile(path(second))), "one");
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
    writeFile(fitted, {});
    EXPECT_EQ(UniqueFileName(folder(), fitted), long_.substr(0, 246) + " (1).mid");
    // With the counter's place near the start, the text after it is cut.
    const std::string dotted = "v." + long_.substr(0, 248) + ".mid";
    writeFile(dotted, {});
    EXPECT_EQ(UniqueFileName(folder(), dotted), "v (1)." + long_.substr(0, 244) + ".mid");
}

} // namespace
} // namespace chwr
