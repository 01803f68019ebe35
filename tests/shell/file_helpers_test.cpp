#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "shell/windows1252.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <cerrno>
#include <cmath>
#include <limits>

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::literals;

class FileNamesTest : public test::TempFolderTest {};

TEST_F(FileNamesTest, CountersGoBeforeTheFirstCounterElseTheFirstDotAndAStemEndsThere)
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

TEST_F(FileNamesTest, TheProgramFolderGetsItsDebugTxtOnceAndAFailedSetUpLeavesNoPartFile)
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
