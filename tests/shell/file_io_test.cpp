#include "shell/file_io.h"

#include "tests/support/temp_folder.h"

#include <cerrno>
#include <gmock/gmock.h>

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class FileIoTest : public test::TempFolderTest {};

TEST_F(FileIoTest, AtomicWriteReplacesTheFileOrOnAnyFailingStepLeavesItAsItWas)
{
    auto target = writeFile("db.pdb", asBytes("old contents that are longer"));
    for (FileOp failing : {FileOp::OpenWrite, FileOp::Write, FileOp::Sync, FileOp::Close, FileOp::Rename}) {
        SCOPED_TRACE(fileOpName(failing));
        setFileFaultHook(
            [failing](FileOp op, const std::filesystem::path&) { return op == failing ? ENOSPC : 0; });
        Result<void> written = writeFileAtomic(target, asBytes("new"));
        setFileFaultHook({});
        EXPECT_THAT(written.error(), HasSubstr("No space left on device"));
        EXPECT_EQ(asString(readFile(target)), "old contents that are longer");
        EXPECT_THAT(listFolder(folder()), ElementsAre("db.pdb", "home"));
    }
    ASSERT_TRUE(writeFileAtomic(target, asBytes("new")));
    EXPECT_EQ(asString(readFile(target)), "new");
    EXPECT_THAT(listFolder(folder()), ElementsAre("db.pdb", "home"));
    EXPECT_THAT(writeFileAtomic(path("no/such/file"), {}).error(), HasSubstr("No such file or directory"));
}

TEST_F(FileIoTest, AWriterMovesItsFileIntoPlaceOnlyOnCommit)
{
    auto target = writeFile("db.pdb", asBytes("old"));
    {
        auto dropped = AtomicFileWriter::create(target);
        ASSERT_TRUE(dropped && dropped->write(asBytes("partial")));
    }
    EXPECT_THAT(listFolder(folder()), ElementsAre("db.pdb", "home"));
    auto writer = AtomicFileWriter::create(target);
    ASSERT_TRUE(writer && writer->write(asBytes("new")) && writer->prepare());
    EXPECT_EQ(asString(readFile(target)), "old");
    ASSERT_TRUE(writer->commitPrepared());
    EXPECT_EQ(asString(readFile(target)), "new");
}

TEST_F(FileIoTest, ReadRefusesMissingFilesFoldersAndFilesOverTheLimit)
{
    EXPECT_THAT(readFileBytes(path("nothing.mid")).error(), HasSubstr("nothing.mid\": No such file"));
    EXPECT_FALSE(readFileBytes(folder()));
    auto big = writeFile("big.mid", Bytes(100, 0x41));
    EXPECT_THAT(readFileBytes(big, 99).error(), HasSubstr("larger than 99 bytes"));
    EXPECT_EQ(readFileBytes(big, 100).value(), Bytes(100, 0x41));
}

} // namespace
} // namespace chwr
