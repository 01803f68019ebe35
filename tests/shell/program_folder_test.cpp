#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ProgramFolderSetUp : public test::TempFolderTest {};

TEST_F(ProgramFolderSetUp, TheFirstStartWritesTheOneLineOfDebugTxt)
{
    std::filesystem::remove_all(home());
    auto created = setUpProgramFolder();
    ASSERT_TRUE(created) << created.error();
    EXPECT_TRUE(*created);
    EXPECT_EQ(debugLogPath(), home() / "midi" / "debug.txt");
    EXPECT_EQ(asString(readFile(debugLogPath())), "Chimewright Vuruva\r\n");
    EXPECT_THAT(listFolder(home() / "midi"), ElementsAre("debug.txt"));
}

TEST_F(ProgramFolderSetUp, LaterStartsLeaveDebugTxtAlone)
{
    ASSERT_TRUE(setUpProgramFolder());
    writeFile("home/midi/debug.txt", {}); // a rewrite empties it
    auto again = setUpProgramFolder();
    ASSERT_TRUE(again);
    EXPECT_FALSE(*again);
    EXPECT_TRUE(readFile(debugLogPath()).empty());
}

TEST_F(ProgramFolderSetUp, AnExistingMidiFolderOnlyGainsTheFile)
{
    writeFile("home/midi/song.mid", asBytes("MThd"));
    ASSERT_TRUE(setUpProgramFolder());
    EXPECT_THAT(listFolder(home() / "midi"), ElementsAre("debug.txt", "song.mid"));
    EXPECT_EQ(asString(readFile(home() / "midi" / "song.mid")), "MThd");
}

TEST_F(ProgramFolderSetUp, AFailedWriteLeavesNoPartFile)
{
    setFileFaultHook(
        [](FileOp op, const std::filesystem::path&) { return op == FileOp::Write ? ENOSPC : 0; });
    auto failed = setUpProgramFolder();
    ASSERT_FALSE(failed);
    EXPECT_THAT(failed.error(), HasSubstr("No space left on device"));
    EXPECT_THAT(listFolder(home() / "midi"), ElementsAre());

    std::filesystem::remove_all(home() / "midi");
    writeFile("home/midi", asBytes("a file where the folder should be"));
    setFileFaultHook({});
    failed = setUpProgramFolder();
    ASSERT_FALSE(failed);
    EXPECT_THAT(failed.error(), HasSubstr("Cannot create the folder"));
}

} // namespace
} // namespace chwr
