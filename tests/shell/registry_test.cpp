#include "shell/file_io.h"
#include "shell/palm_desktop.h"
#include "shell/reg_file_format.h"
#include "shell/settings_store.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <cerrno>
#include <optional>

namespace chwr {
namespace {

using namespace test;
using namespace ::testing;
using Type = RegistryValueType;
using namespace std::literals;
constexpr auto kUser = RegistryRoot::CurrentUser;
constexpr auto kMachine = RegistryRoot::LocalMachine;

RegistryValue text(std::string_view s)
{
    return {Type::String, Bytes(s.begin(), s.end())};
}

// What a .reg file holds, written out again: one text that shows every key, value and comment read.
std::string readBack(ByteView file)
{
    return asString(formatRegFile(parseRegFile(file).contents));
}

// UTF-16LE after its byte order mark, as regedit exports: of ASCII text, or of UTF-16 units.
template <typename Text> Bytes utf16le(const Text& text)
{
    Bytes bytes = {0xFF, 0xFE};
    for (auto unit : text)
        bytes.insert(bytes.end(),
                     {static_cast<std::uint8_t>(unit & 0xFF), static_cast<std::uint8_t>(unit >> 8)});
    return bytes;
}

TEST(RegFileFormat, WritesBackWhatItReadsAsRegeditWritesIt)
{
    const std::string regedit =
        "Windows Registry Editor Version 5.00\n\n; kept with the key\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n@=\"C:\\\\Palm\"\n"
        "; kept with the value\n\"Say\"=\"\\\"hi\\\"\"\n\"Two lines\"=hex(1):61,0a,62\n"
        "\"Count\"=dword:b000000a\n\"Short number\"=hex(4):01,02\n"
        "\"Blob\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\n"
        "  ab,ab,ab,ab\n\"Untyped\"=hex(0):\n\"Odd type\"=hex(123):01\n\n"
        "[HKEY_CURRENT_USER\\Software\\Empty key]\n\n; the end\n";
    EXPECT_THAT(parseRegFile(asBytes(regedit)).problems, ElementsAre());
    EXPECT_EQ(readBack(asBytes(regedit)), regedit);
}

TEST(RegFileFormat, ReadsAHandEditedFileAndSaysWhichLinesItLeftOut)
{
    const std::string typed =
        "\xEF\xBB\xBF\r\nREGEDIT4\r\n\"Orphan\"=\"before any key\"\r\n"
        "[hkey_current_user\\Software\\U.S. Robotics\\\\Pilot Desktop\\Core\\]\r\n"
        "  \"Path\" = \"C:\\Palm\"  \r\n\"Gone\"=\"soon\"\r\n\"Gone\"=-\r\n"
        "\"Twice\"=\"first\"\r\n\"twice\"=\"second\"\r\n\"Bytes\"=hex:01,02,\\\r\n  03\r\n"
        "\"Count\"=DWORD:A\r\n\"Open\"=\"no closing quote\n\"Number\"=dword:123456789\n"
        "\"Hex\"=hex:1,zz\n\"What\"=sz:text\njust some words\n"
        "[HKEY_CLASSES_ROOT\\prcFile\\Shell\\open\\command]\r\n@=\"\\\"C:\\\\Palm\\\" %1\"\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Removed]\r\n\"Inside\"=\"ignored\"\r\n"
        "[HKEY_NOWHERE\\Software]\n\"Lost\"=\"under a bad key\"\n"
        "[HKEY_CURRENT_USER\\Software\\Unclosed\n";
    EXPECT_THAT(
        parseRegFile(asBytes(typed)).problems,
        ElementsAre(HasSubstr("line 3: a value before the first key"), HasSubstr("line 13: the text has no"),
                    HasSubstr("line 14: dword:"), HasSubstr("line 15: the hex list"),
                    HasSubstr("line 16: unknown value kind \"sz\""), HasSubstr("line 17: not a key"),
                    HasSubstr("line 22: unknown root"), HasSubstr("line 24: the key line has no closing")));
    // A backslash before anything but \ or " stays, so the typed path means what it says.
    EXPECT_EQ(readBack(asBytes(typed)),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n\"Path\"=\"C:\\\\Palm\"\n"
              "\"Twice\"=\"second\"\n\"Bytes\"=hex:01,02,03\n\"Count\"=dword:0000000a\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\prcFile\\Shell\\open\\command]\n@=\"\\\"C:"
              "\\\\Palm\\\" %1\"\n\n");
}

TEST(RegFileFormat, ReadsRegeditsUtf16ExportsAndNothingFromAFileWithoutTheHeader)
{
    const Bytes utf16 = utf16le(u"REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"A\"=\"\u00E9 \U0001F3B5\"\r\n"sv);
    EXPECT_EQ(readBack(utf16), "Windows Registry Editor Version "
                               "5.00\n\n[HKEY_CURRENT_USER\\X]\n\"A\"=\"\xC3\xA9 \xF0\x9F\x8E\xB5\"\n\n");
    for (auto bad : {""sv, "\n\n"sv, "[HKEY_CURRENT_USER\\X]\n\"A\"=\"x\"\n"sv,
                     "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=\"\0\"\n"sv}) {
        EXPECT_EQ(readBack(asBytes(bad)), "Windows Registry Editor Version 5.00\n\n") << bad;
        EXPECT_EQ(parseRegFile(asBytes(bad)).problems.size(), 1u) << bad;
    }
    EXPECT_THAT(parseRegFile(asBytes("\n[HKEY_CURRENT_USER\\X]\n"sv)).problems,
                ElementsAre("line 2: the first line should be \"Windows Registry Editor Version 5.00\""));
}

std::string valueIn(const RegistryFileContents& contents, std::string_view key, std::string_view name)
{
    if (const RegistryFileKey* found = contents.findKey(key))
        for (const RegistryFileValue& value : found->values)
            if (value.name == name)
                return asString(value.value.data);
    return "(none)";
}

TEST(RegFileFormat, ARegeditExportAppendedToTheSettingsIsReadInItsOwnEncoding)
{
    const std::string ours =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n\"CHWR-DBOption\"=\"1\"";
    const std::string exported = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\"
                                 "U.S. Robotics\\Pilot Desktop\\Core]\r\n\"Path\"=\"/mnt/c/Palm\"\r\n\r\n";
    // However the parts are put together, the file holds both values.
    const Bytes files[] = {concat({asBytes(ours), utf16le(exported)}),
                           concat({asBytes(ours + "\n"), utf16le(exported)}),
                           concat({utf16le(ours + "\r\n"), utf16le(exported)}),
                           concat({asBytes(ours + "\n"), Bytes{0xEF, 0xBB, 0xBF}, asBytes(exported)}),
                           concat({utf16le(exported), utf16le(ours)})};
    for (const Bytes& file : files) {
        const RegFileParse parsed = parseRegFile(file);
        EXPECT_THAT(parsed.problems, IsEmpty()) << PrintToString(file);
        MemoryRegistry registry(parsed.contents);
        const SettingsStore store(registry);
        EXPECT_EQ(store.readSetting(kDbOptionSetting) + findPalmDesktopDirectory(store), "1/mnt/c/Palm");
    }
}

TEST(RegistryKeys, ManyKeysAreFoundWithoutRegardToCaseAndTheirParentsExist)
{
    const std::string many = "HKEY_CURRENT_USER\\Software\\Many\\Key ";
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (int i = 0; i < 40000; ++i)
        text += "[" + many + std::to_string(i) + "]\n\"n\"=\"" + std::to_string(i) + "\"\n";
    RegistryFileContents contents =
        parseRegFile(asBytes(text + "[hkey_current_user\\SOFTWARE\\many\\KEY 7]\n\"m\"=\"7\"\n")).contents;
    EXPECT_EQ(contents.keys.size(), 40000u);
    EXPECT_EQ(valueIn(contents, "HKEY_CURRENT_USER\\software\\MANY\\key 39999", "n"), "39999");
    EXPECT_EQ(valueIn(contents, many + "7", "m"), "7");
    EXPECT_TRUE(contents.hasKey("HKEY_CURRENT_USER\\software\\many"));
    EXPECT_FALSE(contents.hasKey("HKEY_CURRENT_USER\\Software\\Man") || contents.hasKey(many + "1\\Sub"));
    // Keys taken out of the list by hand are no longer found; the others still are.
    contents.keys.erase(contents.keys.begin(), contents.keys.begin() + 10);
    EXPECT_EQ(contents.findKey(many + "7"), nullptr);
    EXPECT_EQ(valueIn(contents, many + "10", "n"), "10");
}

class RegistryFileTest : public TempFolderTest {
protected:
    std::filesystem::path file() const { return path("config/registry.reg"); }
    std::string fileText() const { return asString(readFile(file())); }
};

TEST_F(RegistryFileTest, KeysAndValuesAreReadAfreshAndTheRestOfTheFileIsKept)
{
    ::setenv("CHIMEWRIGHT_REGISTRY", file().c_str(), 1); // in a folder not made yet
    auto registry = makeUserRegistry();
    EXPECT_THAT(registry->openKey(kUser, "A").error(), HasSubstr("There is no key \"HKEY_CURRENT_USER\\A\""));
    EXPECT_THAT(registry->createKey(kUser, "\\").error(), HasSubstr("needs a path below HKEY_CURRENT_USER"));
    ASSERT_TRUE(SettingsStore(*registry).writeSetting(kDbPathSetting, "/me/db.PDB"));
    writeFile("config/registry.reg", asBytes(fileText() + "; by hand\r\n[HKEY_CURRENT_USER\\Palm]\r\n"));
    RegistryFile again(file());
    EXPECT_TRUE(again.openKey(kMachine, "software\\brindlewood")); // a parent, named in any case
    EXPECT_FALSE(again.openKey(kUser, "SOFTWARE\\Brindlewood"));
    auto key = again.openKey(kMachine, "\\SOFTWARE\\Brindlewood\\CHWR\\1.0\\");
    EXPECT_EQ((*key)->queryValue("chwr-dbpath").value(), text("/me/db.PDB"));
    EXPECT_THAT((*key)->queryValue("A").error(), HasSubstr("has no value \"A\""));
    ASSERT_TRUE((*key)->setValue("", text("default")));
    EXPECT_EQ(
        fileText(),
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n"
        "\"CHWR-DBPath\"=\"/me/db.PDB\"\n@=\"default\"\n\n; by hand\n[HKEY_CURRENT_USER\\Palm]\n\n");
    EXPECT_TRUE(again.problems().empty());
}

TEST_F(RegistryFileTest, ADamagedFileReadsAsAbsentAndIsKeptAsideBeforeItIsReplaced)
{
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=\"/half/a/pa";
    writeFile("config/registry.reg", asBytes(damaged));
    RegistryFile registry(file());
    auto key = registry.openKey(kUser, "X");
    EXPECT_FALSE((*key)->queryValue("A"));
    EXPECT_THAT(registry.problems(), ElementsAre(HasSubstr("line 3: the text has no closing quote")));
    // Nothing is written over it while it cannot be read or no copy of it can be kept.
    setFileFaultHook([](FileOp op, const std::filesystem::path& target) {
        return op == FileOp::Rename && target.string().find(".damaged") != std::string::npos ? ENOSPC : 0;
    });
    EXPECT_THAT(registry.createKey(kUser, "New").error(), HasSubstr("a copy of it could not be kept"));
    EXPECT_THAT((*key)->setValue("A", text("1")).error(), HasSubstr("No space left on device"));
    setFileFaultHook({});
    EXPECT_EQ(fileText(), damaged);
    EXPECT_THAT(listFolder(path("config")), ElementsAre("registry.reg"));

    ASSERT_TRUE((*key)->setValue("A", text("1")));
    EXPECT_EQ((*key)->queryValue("A").value(), text("1")); // read afresh: the file is whole again
    EXPECT_TRUE(registry.problems().empty());
    writeFile("config/registry.reg", asBytes("garbage")); // a second copy does not replace the first
    ASSERT_TRUE(registry.createKey(kUser, "New"));
    EXPECT_EQ(asString(readFile(path("config/registry.reg.damaged"))), damaged);
    EXPECT_EQ(asString(readFile(path("config/registry.reg.damaged-2"))), "garbage");
}

} // namespace
} // namespace chwr
