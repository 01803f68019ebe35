#include "shell/file_io.h"
#include "shell/reg_file_format.h"
#include "shell/registry.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

Bytes bytesOf(std::string_view text)
{
    return Bytes(asBytes(text).begin(), asBytes(text).end());
}

RegistryValue stringValue(std::string_view text)
{
    return {RegistryValueType::String, bytesOf(text)};
}

// A .reg text as regedit exports it: UTF-16 little-endian after a byte order mark.
// The test texts are ASCII plus one two-byte UTF-8 character, which is enough here.
Bytes utf16LeExport(std::string_view utf8)
{
    Bytes out = {0xFF, 0xFE};
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned code = static_cast<unsigned char>(utf8[i]);
        if ((code & 0xE0) == 0xC0 && i + 1 < utf8.size())
            code = ((code & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        out.push_back(static_cast<std::uint8_t>(code & 0xFF));
        out.push_back(static_cast<std::uint8_t>(code >> 8));
    }
    return out;
}

const RegistryValue* valueIn(const RegistryFileContents& contents, std::string_view key,
                             std::string_view name)
{
    const RegistryFileKey* found = contents.findKey(key);
    if (!found)
        return nullptr;
    for (const RegistryFileValue& value : found->values)
        if (value.name == name)
            return &value.value;
    return nullptr;
}

TEST(RegFileFormat, EveryValueTypeSurvivesTheRoundTrip)
{
    Bytes longBinary;
    for (int i = 0; i < 100; ++i)
        longBinary.push_back(static_cast<std::uint8_t>(i * 7));
    RegistryFileContents contents;
    RegistryFileKey& key = contents.addKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0");
    key.comments = {"; kept with the key"};
    key.values = {
        {"", stringValue("the default value"), {}},
        {"Plain", stringValue("C:\\Palm \"Desktop\""), {"; kept with the value"}},
        {"Empty", stringValue(""), {}},
        {"Terminated", {RegistryValueType::String, {'a', 'b', 0}}, {}},
        {"Two lines", stringValue("one\ntwo"), {}},
        {"Number", {RegistryValueType::Number32, {0x0D, 0x0C, 0x0B, 0x0A}}, {}},
        {"Short number", {RegistryValueType::Number32, {0x01, 0x02}}, {}},
        {"Binary", {RegistryValueType::Binary, longBinary}, {}},
        {"No bytes", {RegistryValueType::Binary, {}}, {}},
        {"Expandable", {RegistryValueType::ExpandString, {'%', 0, 'X', 0, '%', 0, 0, 0}}, {}},
        {"Several", {RegistryValueType::MultiString, {'a', 0, 0, 0}}, {}},
        {"Wide number", {RegistryValueType::Number64, {1, 2, 3, 4, 5, 6, 7, 8}}, {}},
        {"Untyped", {RegistryValueType::None, {9}}, {}},
        {"Odd type", {static_cast<RegistryValueType>(0x123), {1}}, {}},
    };
    const RegistryFileKey written = key; // addKey may move the keys
    contents.addKey("HKEY_CURRENT_USER\\Software\\Empty key");
    contents.trailingComments = {"; the end"};

    Bytes text = formatRegFile(contents);
    RegFileParse parsed = parseRegFile(text);

    EXPECT_THAT(parsed.problems, ElementsAre());
    ASSERT_EQ(parsed.contents.keys.size(), 2u);
    const RegistryFileKey& back = parsed.contents.keys[0];
    EXPECT_EQ(back.path, written.path);
    EXPECT_EQ(back.comments, written.comments);
    ASSERT_EQ(back.values.size(), written.values.size());
    for (std::size_t i = 0; i < written.values.size(); ++i) {
        EXPECT_EQ(back.values[i].name, written.values[i].name);
        EXPECT_EQ(back.values[i].value, written.values[i].value) << "value " << written.values[i].name;
        EXPECT_EQ(back.values[i].comments, written.values[i].comments);
    }
    EXPECT_EQ(parsed.contents.keys[1].path, "HKEY_CURRENT_USER\\Software\\Empty key");
    EXPECT_EQ(parsed.contents.trailingComments, contents.trailingComments);
}

TEST(RegFileFormat, WritesTheFormsPeopleAndRegeditKnow)
{
    RegistryFileContents contents;
    RegistryFileKey& key = contents.addKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0");
    key.values = {{"CHWR-DBOption", stringValue("1"), {}},
                  {"", stringValue("C:\\Palm"), {}},
                  {"Count", {RegistryValueType::Number32, {0x0A, 0, 0, 0}}, {}},
                  {"Blob", {RegistryValueType::Binary, {0x01, 0xAB}}, {}}};

    std::string text = asString(formatRegFile(contents));

    EXPECT_EQ(text, "Windows Registry Editor Version 5.00\n"
                    "\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n"
                    "\"CHWR-DBOption\"=\"1\"\n"
                    "@=\"C:\\\\Palm\"\n"
                    "\"Count\"=dword:0000000a\n"
                    "\"Blob\"=hex:01,ab\n"
                    "\n");
}

TEST(RegFileFormat, ReadsAHandEditedFile)
{
    const std::string text = "\r\n"
                             "REGEDIT4\r\n"
                             "; Palm Desktop, typed by hand\r\n"
                             "[hkey_current_user\\Software\\U.S. Robotics\\\\Pilot Desktop\\Core\\]\r\n"
                             "  \"Path\" = \"C:\\Palm\"  \r\n"
                             "\"Gone\"=\"soon\"\r\n"
                             "\"Gone\"=-\r\n"
                             "\"Twice\"=\"first\"\r\n"
                             "\"twice\"=\"second\"\r\n"
                             "\"Bytes\"=hex:01,02,\\\r\n"
                             "    03,04\r\n"
                             "\"Count\"=DWORD:A\r\n"
                             "[HKEY_CLASSES_ROOT\\prcFile\\Shell\\open\\command]\r\n"
                             "@=\"\\\"C:\\\\Palm\\\\Instapp.exe\\\" \\\"%1\\\"\"\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\Removed]\r\n"
                             "\"Inside\"=\"ignored\"\r\n";

    RegFileParse parsed = parseRegFile(asBytes(text));

    EXPECT_THAT(parsed.problems, ElementsAre());
    const std::string core = "HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core";
    ASSERT_NE(valueIn(parsed.contents, core, "Path"), nullptr);
    // A backslash before anything but \ or " stays, so the typed path means what it says.
    EXPECT_EQ(*valueIn(parsed.contents, core, "Path"), stringValue("C:\\Palm"));
    EXPECT_EQ(valueIn(parsed.contents, core, "Gone"), nullptr);
    EXPECT_EQ(*valueIn(parsed.contents, core, "Twice"), stringValue("second"));
    EXPECT_EQ(*valueIn(parsed.contents, core, "Bytes"),
              (RegistryValue{RegistryValueType::Binary, {1, 2, 3, 4}}));
    EXPECT_EQ(*valueIn(parsed.contents, core, "Count"),
              (RegistryValue{RegistryValueType::Number32, {0x0A, 0, 0, 0}}));
    const std::string classes = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\prcFile\\Shell\\open\\command";
    ASSERT_NE(valueIn(parsed.contents, classes, ""), nullptr);
    EXPECT_EQ(*valueIn(parsed.contents, classes, ""), stringValue("\"C:\\Palm\\Instapp.exe\" \"%1\""));
    EXPECT_FALSE(parsed.contents.hasKey("HKEY_CURRENT_USER\\Software\\Removed"));
}

TEST(RegFileFormat, ReadsARegeditExportInUtf16)
{
    Bytes exported = utf16LeExport("Windows Registry Editor Version 5.00\r\n\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\r\n"
                                   "\"Path\"=\"C:\\\\Programme\\\\Palm Desktop \xC3\xA9t\xC3\xA9\"\r\n");

    RegFileParse parsed = parseRegFile(exported);

    EXPECT_THAT(parsed.problems, ElementsAre());
    const RegistryValue* path =
        valueIn(parsed.contents, "HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core", "Path");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(*path, stringValue("C:\\Programme\\Palm Desktop \xC3\xA9t\xC3\xA9"));
}

TEST(RegFileFormat, LeavesOutTheLinesItCannotReadAndSaysWhere)
{
    const std::string text = "Windows Registry Editor Version 5.00\n"
                             "\"Orphan\"=\"before any key\"\n"
                             "[HKEY_CURRENT_USER\\Software\\Test]\n"
                             "\"Good\"=\"kept\"\n"
                             "\"Open\"=\"no closing quote\n"
                             "\"Number\"=dword:123456789\n"
                             "\"Bytes\"=hex:1,zz\n"
                             "\"What\"=sz:text\n"
                             "just some words\n"
                             "[HKEY_NOWHERE\\Software]\n"
                             "\"Lost\"=\"under a bad key\"\n"
                             "[HKEY_CURRENT_USER\\Software\\Unclosed\n"
                             "\"AlsoGood\"=\"kept too\"\n";

    RegFileParse parsed = parseRegFile(asBytes(text));

    EXPECT_THAT(parsed.problems,
                ElementsAre(HasSubstr("line 2: a value before the first key"),
                            HasSubstr("line 5: the text has no"), HasSubstr("line 6: dword:"),
                            HasSubstr("line 7: the hex list"), HasSubstr("line 8: unknown value kind \"sz\""),
                            HasSubstr("line 9: not a key"), HasSubstr("line 10: unknown root"),
                            HasSubstr("line 12: the key line has no closing")));
    const RegistryFileKey* test = parsed.contents.findKey("HKEY_CURRENT_USER\\Software\\Test");
    ASSERT_NE(test, nullptr);
    ASSERT_EQ(test->values.size(), 1u);
    EXPECT_EQ(test->values[0].name, "Good");
    EXPECT_EQ(parsed.contents.keys.size(), 1u);
}

TEST(RegFileFormat, AFileWithoutTheHeaderHoldsNothing)
{
    for (std::string text : {std::string(""), std::string("\n\n"),
                             std::string("[HKEY_CURRENT_USER\\Software\\Test]\n\"Good\"=\"x\"\n"),
                             std::string("Windows Registry Editor Version 5.00\n\"x\"=\"\0\"\n", 46)}) {
        RegFileParse parsed = parseRegFile(asBytes(text));
        EXPECT_TRUE(parsed.contents.keys.empty()) << text;
        ASSERT_EQ(parsed.problems.size(), 1u) << text;
    }
    EXPECT_THAT(
        parseRegFile(asBytes("[HKEY_CURRENT_USER\\X]\n")).problems,
        ElementsAre(HasSubstr("line 1: the first line should be \"Windows Registry Editor Version 5.00\"")));
}

class RegistryFileTest : public test::TempFolderTest {
protected:
    std::filesystem::path file() const { return path("config/registry.reg"); }
};

TEST_F(RegistryFileTest, KeysAreCreatedAndValuesReadBackThroughANewHandle)
{
    RegistryFile registry(file());
    EXPECT_THAT(registry.openKey(RegistryRoot::LocalMachine, "SOFTWARE\\Brindlewood").error(),
                HasSubstr("There is no key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\""));

    auto created = registry.createKey(RegistryRoot::LocalMachine, "SOFTWARE\\Brindlewood\\CHWR\\1.0");
    ASSERT_TRUE(created) << created.error();
    ASSERT_TRUE((*created)->setValue("CHWR-DBPath", stringValue("/home/me/MIDI_Ring_Tones.PDB")));
    ASSERT_TRUE((*created)->setValue("", stringValue("default")));

    RegistryFile again(file());
    // Parents exist, names compare without case.
    EXPECT_TRUE(again.openKey(RegistryRoot::LocalMachine, "software\\brindlewood"));
    auto key = again.openKey(RegistryRoot::LocalMachine, "\\SOFTWARE\\Brindlewood\\CHWR\\1.0\\");
    ASSERT_TRUE(key);
    EXPECT_EQ((*key)->queryValue("chwr-dbpath").value(), stringValue("/home/me/MIDI_Ring_Tones.PDB"));
    EXPECT_EQ((*key)->queryValue("").value(), stringValue("default"));
    EXPECT_THAT((*key)->queryValue("Missing").error(), HasSubstr("has no value \"Missing\""));
    EXPECT_FALSE(again.openKey(RegistryRoot::CurrentUser, "SOFTWARE\\Brindlewood"));

    EXPECT_EQ(asString(readFile(file())), "Windows Registry Editor Version 5.00\n\n"
                                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n"
                                          "\"CHWR-DBPath\"=\"/home/me/MIDI_Ring_Tones.PDB\"\n"
                                          "@=\"default\"\n\n");
    EXPECT_THAT(listFolder(path("config")), ElementsAre("registry.reg"));
}

TEST_F(RegistryFileTest, AChangeKeepsWhatElseThePersonWrote)
{
    writeFile("config/registry.reg",
              asBytes("Windows Registry Editor Version 5.00\r\n\r\n"
                      "; my Palm Desktop\r\n"
                      "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\r\n"
                      "\"Path\"=\"/home/me/palm\"\r\n"));
    RegistryFile registry(file());
    auto key = registry.createKey(RegistryRoot::LocalMachine, "SOFTWARE\\Brindlewood\\CHWR\\1.0");
    ASSERT_TRUE(key);
    ASSERT_TRUE((*key)->setValue("CHWR-DBOption", stringValue("0")));

    EXPECT_EQ(asString(readFile(file())),
              "Windows Registry Editor Version 5.00\n\n"
              "; my Palm Desktop\n"
              "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]\n"
              "\"Path\"=\"/home/me/palm\"\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n"
              "\"CHWR-DBOption\"=\"0\"\n\n");
    EXPECT_TRUE(registry.problems().empty());
}

TEST_F(RegistryFileTest, ADamagedFileReadsAsAbsentAndIsKeptBeforeItIsReplaced)
{
    const std::string damaged = "Windows Registry Editor Version 5.00\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n"
                                "\"CHWR-DBPath\"=\"/half/a/pa";
    writeFile("config/registry.reg", asBytes(damaged));
    RegistryFile registry(file());

    auto key = registry.openKey(RegistryRoot::LocalMachine, "SOFTWARE\\Brindlewood\\CHWR\\1.0");
    ASSERT_TRUE(key);
    EXPECT_FALSE((*key)->queryValue("CHWR-DBPath"));
    EXPECT_THAT(registry.problems(), ElementsAre(HasSubstr("line 3: the text has no closing quote")));

    ASSERT_TRUE((*key)->setValue("CHWR-DBOption", stringValue("1")));
    EXPECT_EQ(asString(readFile(path("config/registry.reg.damaged"))), damaged);
    EXPECT_EQ((*key)->queryValue("CHWR-DBOption").value(), stringValue("1"));
    EXPECT_TRUE(registry.problems().empty());

    // A second damaged file does not replace the first copy.
    writeFile("config/registry.reg", asBytes("garbage"));
    ASSERT_TRUE(registry.createKey(RegistryRoot::CurrentUser, "Software\\New"));
    EXPECT_EQ(asString(readFile(path("config/registry.reg.damaged"))), damaged);
    EXPECT_EQ(asString(readFile(path("config/registry.reg.damaged-2"))), "garbage");
    EXPECT_THAT(listFolder(path("config")),
                ElementsAre("registry.reg", "registry.reg.damaged", "registry.reg.damaged-2"));
}

TEST_F(RegistryFileTest, NothingIsWrittenOverAFileThatCannotBeReadOrCopied)
{
    const std::string damaged = "not a registry file";
    writeFile("config/registry.reg", asBytes(damaged));
    RegistryFile registry(file());

    setFileFaultHook([&](FileOp op, const std::filesystem::path& target) {
        return op == FileOp::Write && target.string().find(".damaged") != std::string::npos ? ENOSPC : 0;
    });
    auto created = registry.createKey(RegistryRoot::CurrentUser, "Software\\X");
    ASSERT_FALSE(created);
    EXPECT_THAT(created.error(),
                HasSubstr("is damaged and a copy of it could not be kept, so it was not changed"));
    EXPECT_THAT(created.error(), HasSubstr("No space left on device"));

    setFileFaultHook(
        [](FileOp op, const std::filesystem::path&) { return op == FileOp::OpenRead ? EACCES : 0; });
    created = registry.createKey(RegistryRoot::CurrentUser, "Software\\X");
    ASSERT_FALSE(created);
    EXPECT_THAT(created.error(), HasSubstr("Permission denied"));

    setFileFaultHook({});
    EXPECT_EQ(asString(readFile(file())), damaged);
    EXPECT_THAT(listFolder(path("config")), ElementsAre("registry.reg"));
}

TEST_F(RegistryFileTest, AFailedWriteLeavesTheOldFileWhole)
{
    RegistryFile registry(file());
    auto key = registry.createKey(RegistryRoot::CurrentUser, "Software\\Test");
    ASSERT_TRUE(key);
    ASSERT_TRUE((*key)->setValue("A", stringValue("first")));
    Bytes before = readFile(file());

    setFileFaultHook([](FileOp op, const std::filesystem::path&) { return op == FileOp::Rename ? EIO : 0; });
    auto set = (*key)->setValue("A", stringValue("second"));
    ASSERT_FALSE(set);
    EXPECT_THAT(set.error(), HasSubstr("Input/output error"));

    setFileFaultHook({});
    EXPECT_EQ(readFile(file()), before);
    EXPECT_THAT(listFolder(path("config")), ElementsAre("registry.reg"));
}

TEST(MemoryRegistry, RefusedWritesChangeNothing)
{
    MemoryRegistry registry;
    registry.refuseWrites("Access is denied");
    auto created = registry.createKey(RegistryRoot::LocalMachine, "SOFTWARE\\X");
    ASSERT_FALSE(created);
    EXPECT_EQ(created.error(), "Access is denied");
    EXPECT_TRUE(registry.contents().keys.empty());
    EXPECT_THAT(registry.openKey(RegistryRoot::LocalMachine, "").error(),
                HasSubstr("A registry key needs a path below HKEY_LOCAL_MACHINE"));
}

TEST_F(RegistryFileTest, TheFileIsWhereTheEnvironmentSays)
{
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    EXPECT_EQ(registryFilePath(), path("registry.reg"));
    ::unsetenv("CHIMEWRIGHT_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", path("xdg").c_str(), 1);
    EXPECT_EQ(registryFilePath(), path("xdg") / "chimewright" / "registry.reg");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", path("me").c_str(), 1);
    EXPECT_EQ(registryFilePath(), path("me") / ".config" / "chimewright" / "registry.reg");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", home.c_str(), 1);
}

} // namespace
} // namespace chwr
