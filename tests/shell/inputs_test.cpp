// Inputs from outside the program: a HotSync tool that leaves a child running, a settings
// file with a regedit export appended or many keys, users.dat names in the Windows code page.

#include "shell/database_location.h"
#include "shell/hotsync_environment.h"
#include "shell/palm_desktop.h"
#include "shell/reg_file_format.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <fstream>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::concat;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class InputsTest : public test::TempFolderTest {};

// gpilot-install-file says something, leaves a child holding its output open for a
// minute and exits at once with a failure.
TEST_F(InputsTest, TheHandOffEndsWhenTheToolExitsThoughItsChildKeepsTheOutputOpen)
{
    fs::permissions(
        writeFile("bin/gpilot-install-file",
                  asBytes("#!/bin/sh\necho 'told to fail' >&2\nsleep 60 &\necho $! > \"$0.child\"\n"
                          "exit 3\n")),
        fs::perms::owner_all);
    HotSyncEnvironment environment{path("me"), {}, {}, path("bin").string(), {}};
    const auto started = std::chrono::steady_clock::now();
    Result<std::string> done = makeInstallHandoff(environment)->install(writeFile("db.PDB", {}));
    const auto took = std::chrono::steady_clock::now() - started;
    int child = 0;
    std::ifstream(path("bin/gpilot-install-file.child")) >> child;
    ASSERT_GT(child, 0);
    ::kill(child, SIGKILL);
    EXPECT_THAT(done.error(),
                HasSubstr("(gpilot-install-file ended with status 3: told to fail). Install it by hand"));
    // Neither the child's minute nor the tool's time limit of 30 seconds is waited for.
    EXPECT_LT(took, std::chrono::seconds(20));
}

Bytes utf16le(std::string_view ascii)
{
    Bytes bytes = {0xFF, 0xFE};
    for (char c : ascii)
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
    return bytes;
}

std::string valueIn(const RegistryFileContents& contents, std::string_view key, std::string_view name)
{
    if (const RegistryFileKey* found = contents.findKey(key))
        for (const RegistryFileValue& value : found->values)
            if (value.name == name)
                return asString(value.value.data);
    return "(none)";
}

TEST_F(InputsTest, ARegeditExportAppendedToTheSettingsIsReadInItsOwnEncoding)
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
        EXPECT_THAT(parsed.problems, IsEmpty()) << ::testing::PrintToString(file);
        EXPECT_EQ(
            valueIn(parsed.contents, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0",
                    "CHWR-DBOption") +
                valueIn(parsed.contents, "HKEY_CURRENT_USER\\" + std::string(kPalmDesktopCoreKey), "Path"),
            "1/mnt/c/Palm");
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

// users.dat keeps "Müller" with the Windows-1252 byte 0xFC; the folder copied from
// Windows may be named in UTF-8 or with that byte.
TEST_F(InputsTest, AHotSyncUserInTheWindowsCodePageShowsInUtf8AndFindsItsFolderEitherWay)
{
    const Bytes users =
        concat({Bytes{3, 0, 0, 0, 1, 2, 3, 4, 6}, asBytes("M\xFCller"), Bytes{6}, asBytes("M\xFCller")});
    EXPECT_EQ(parseUsersDat(users).front(), (HotSyncUser{"Müller", "Müller"}));
    for (const std::string folder : {"Müller", "M\xFCller"}) {
        const fs::path palm = writeFile(std::to_string(folder.size()) + "/users.dat", users).parent_path();
        fs::create_directories(palm / folder / "Backup");
        MemoryRegistry registry;
        SettingsStore store(registry);
        DatabaseLocation location(store);
        location.applyStoredSettings();
        location.setPalmDesktop(palm.string(), userDirectoryNames(readHotSyncUsers(palm)));
        location.pickUser(0);
        EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "Müller");
        EXPECT_EQ(location.ResolveDatabasePath().value(), palm / folder / "Backup" / "MIDI_Ring_Tones.PDB");
    }
}

} // namespace
} // namespace chwr
