#include "shell/file_helpers.h"

#include "tests/support/temp_folder.h"

#include <cmath>
#include <filesystem>
#include <gmock/gmock.h>
#include <limits>

namespace chwr {
namespace {

using test::TempFolderTest;

class FileHelpersTest : public TempFolderTest {};

TEST(NameStemTest, CutsAtTheFirstCounterElseTheFirstDot)
{
    EXPECT_EQ(NameStem("Ring.mid"), "Ring");
    EXPECT_EQ(NameStem("Ring (2).mid"), "Ring");
    EXPECT_EQ(NameStem("My.Song.mid"), "My");
    EXPECT_EQ(NameStem("Ring"), "Ring");
    EXPECT_EQ(NameStem(".hidden.mid"), "");
    // The counter wins over an earlier dot: " (" is looked for first.
    EXPECT_EQ(NameStem("a.b (1).mid"), "a.b");
    // A bracket without the blank before it is no counter.
    EXPECT_EQ(NameStem("Ring(2).mid"), "Ring(2)");
}

TEST(IntegerPartTest, GivesTheWholeNumberAndZeroBelowOne)
{
    EXPECT_EQ(IntegerPart(0.5), 0);
    EXPECT_EQ(IntegerPart(1), 1);
    EXPECT_EQ(IntegerPart(2.75), 2);
    EXPECT_EQ(IntegerPart(100), 100);
    EXPECT_EQ(IntegerPart(-3), 0);
    EXPECT_EQ(IntegerPart(0.999999), 0);
    EXPECT_EQ(IntegerPart(std::nan("")), 0);
}

TEST(IntegerPartTest, HandlesNumbersBeyondSixteenBitsWithAFraction)
{
    EXPECT_EQ(IntegerPart(32768.5), 32768);
    EXPECT_EQ(IntegerPart(1e12 + 0.25), 1000000000000);
    EXPECT_EQ(IntegerPart(std::numeric_limits<double>::infinity()), std::numeric_limits<std::int64_t>::max());
}

TEST_F(FileHelpersTest, FileExistsOnlyForOrdinaryFiles)
{
    EXPECT_FALSE(FileExists(path("missing.mid")));
    EXPECT_FALSE(FileExists(folder()));
    EXPECT_TRUE(FileExists(writeFile("there.mid", asBytes("x"))));
    EXPECT_FALSE(FileExists(path("there.mid/inside")));
}

TEST_F(FileHelpersTest, UniqueFileNamePutsTheCounterBeforeTheExtension)
{
    EXPECT_EQ(UniqueFileName(folder(), "Ring.mid"), "Ring.mid");
    writeFile("Ring.mid", asBytes("x"));
    EXPECT_EQ(UniqueFileName(folder(), "Ring.mid"), "Ring (1).mid");
    writeFile("Ring (1).mid", asBytes("x"));
    EXPECT_EQ(UniqueFileName(folder(), "Ring.mid"), "Ring (2).mid");
}

TEST_F(FileHelpersTest, UniqueFileNameCutsAtTheFirstCounterOfANameThatHasOne)
{
    writeFile("Song (1).mid", asBytes("x"));
    EXPECT_EQ(UniqueFileName(folder(), "Song (1).mid"), "Song (1) (1).mid");
    writeFile("Song (1) (1).mid", asBytes("x"));
    EXPECT_EQ(UniqueFileName(folder(), "Song (1).mid"), "Song (2) (1).mid");
}

TEST_F(FileHelpersTest, UniqueFileNameOfANameWithoutDotOrCounterAppendsTheCounter)
{
    writeFile("Ring", asBytes("x"));
    EXPECT_EQ(UniqueFileName(folder(), "Ring"), "Ring (1)");
}

TEST_F(FileHelpersTest, UniqueFileNameSkipsFoldersOnlyWhenTheyAreNoFile)
{
    // A folder of that name is no file, so the name counts as free.
    std::filesystem::create_directories(path("Ring.mid"));
    EXPECT_EQ(UniqueFileName(folder(), "Ring.mid"), "Ring.mid");
}

TEST(SafeFileNameTest, ReplacesSeparatorsAndForbiddenCharacters)
{
    EXPECT_EQ(SafeFileName("Ring/Tone"), "Ring_Tone");
    EXPECT_EQ(SafeFileName("..\\..\\boot"), ".._.._boot");
    EXPECT_EQ(SafeFileName("a<b>c:d\"e|f?g*h"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(SafeFileName(std::string("tab\there\nnul", 12) + std::string(1, '\0')), "tab_here_nul_");
    EXPECT_EQ(SafeFileName("Caf\xC3\xA9 (2)"), "Caf\xC3\xA9 (2)");
}

} // namespace
} // namespace chwr
