#include "shell/file_io.h"

#include "tests/support/temp_folder.h"

#include <cerrno>
#include <gmock/gmock.h>

namespace chwr {
namespace {

using ::testing::HasSubstr;
using test::TempFolderTest;

class FileIoTest : public TempFolderTest {};

TEST_F(FileIoTest, AtomicWriteReplacesTheWholeFileAndLeavesNoTemporary)
{
    auto target = writeFile("db.pdb", asBytes("old contents that are longer"));
    ASSERT_TRUE(writeFileAtomic(target, asBytes("new")));
    EXPECT_EQ(asString(readFile(target)), "new");
    EXPECT_EQ(listFolder(folder()), (std::vector<std::string>{"db.pdb", "home"}));
}

TEST_F(FileIoTest, EachFailingStepLeavesTheOldFileAndNoTemporary)
{
    for (FileOp failing : {FileOp::OpenWrite, FileOp::Write, FileOp::Sync, FileOp::Close, FileOp::Rename}) {
        SCOPED_TRACE(fileOpName(failing));
        auto target = writeFile("db.pdb", asBytes("old"));
        setFileFaultHook([failing](FileOp op, const std::filesystem::path&) { return op == failing ? ENOSPC : 0; });
        Result<void> written = writeFileAtomic(target, asBytes("new"));
        setFileFaultHook({});
        ASSERT_FALSE(written);
        EXPECT_THAT(written.error(), HasSubstr("No space left on device"));
        EXPECT_EQ(asString(readFile(target)), "old");
        EXPECT_EQ(listFolder(folder()), (std::vector<std::string>{"db.pdb", "home"}));
    }
}

TEST_F(FileIoTest, UncommittedWriterRemovesItsTemporaryFile)
{
    auto target = path("out.mid");
    {
        auto writer = AtomicFileWriter::create(target);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->write(asBytes("partial")));
    }
    EXPECT_EQ(listFolder(folder()), (std::vector<std::string>{"home"}));
}

TEST_F(FileIoTest, PreparedWriterMovesIntoPlaceOnlyOnCommit)
{
    auto target = writeFile("db.pdb", asBytes("old"));
    auto writer = AtomicFileWriter::create(target);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->write(asBytes("new")));
    ASSERT_TRUE(writer->prepare());
    EXPECT_EQ(asString(readFile(target)), "old");
    ASSERT_TRUE(writer->commitPrepared());
    EXPECT_EQ(asString(readFile(target)), "new");
}

TEST_F(FileIoTest, ReadRefusesMissingFilesFoldersAndOversizedFiles)
{
    auto missing = readFileBytes(path("nothing.mid"));
    ASSERT_FALSE(missing);
    EXPECT_THAT(missing.error(), HasSubstr("nothing.mid"));

    EXPECT_FALSE(readFileBytes(folder()));

    auto big = writeFile("big.mid", Bytes(100, 0x41));
    auto refused = readFileBytes(big, 99);
    ASSERT_FALSE(refused);
    EXPECT_THAT(refused.error(), HasSubstr("larger than 99 bytes"));
    auto read = readFileBytes(big, 100);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), 100u);
}

TEST_F(FileIoTest, WriteIntoAMissingFolderFailsWithTheSystemsWords)
{
    Result<void> written = writeFileAtomic(path("no/such/folder/file"), asBytes("x"));
    ASSERT_FALSE(written);
    EXPECT_THAT(written.error(), HasSubstr("No such file or directory"));
}

}  // namespace
}  // namespace chwr
