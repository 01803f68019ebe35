#include "shell/database_location.h"
#include "shell/hotsync_environment.h"
#include "shell/palm_desktop.h"
#include "shell/users_dat.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace chwr {
namespace {

using namespace test;
using namespace ::testing;
using namespace std::literals;
using enum RegistryRoot;
using Type = RegistryValueType;
namespace fs = std::filesystem;

// users.dat as Palm Desktop lays it out: a skipped word and a marker; the first user record
// (4 skipped bytes, then the name and the directory name after 1-byte lengths); each further
// record after the signature 0x01 0x80. `cut` drops the record's last bytes.
const Bytes kMarker0 = {3, 0, 0, 0}, kMarkerFFFF = {3, 0, 0xFF, 0xFF}, kSignature = {0x01, 0x80};
Bytes user(std::string_view name, std::string_view directory, std::size_t cut = 0)
{
    Bytes record =
        concat({Bytes{0x11, 0x22, 0x33, 0x44, static_cast<std::uint8_t>(name.size())}, asBytes(name),
                Bytes{static_cast<std::uint8_t>(directory.size())}, asBytes(directory)});
    record.resize(record.size() - cut);
    return record;
}

TEST(UsersDat, ListsTheDirectoryNameOfEachUserRecordFound)
{
    // Only the all-ones marker announces a text to pass over, and only a positive length is
    // passed; the byte after a 0x01 is consumed whatever it is; a cut record gives what it holds.
    const std::pair<Bytes, std::vector<std::string>> files[] = {
        {concat({kMarker0, user("Jane Doe", "DoeJ"), Bytes{0, 5, 0x80}, kSignature, user("J", "RoeJ")}),
         {"DoeJ", "RoeJ"}},
        {concat({kMarkerFFFF, Bytes{0, 0, 4, 0}, asBytes("Palm"), user("A", "dirA")}), {"dirA"}},
        {concat({Bytes{3, 0, 0xFE, 0xFF}, user("A", "dirA")}), {"dirA"}},
        {concat({kMarkerFFFF, Bytes{0, 0, 0xFB, 0xFF}, user("A", "dirA")}), {"dirA"}},
        {concat({kMarker0, user("A", "a"), Bytes{1, 0x7F}, kSignature, user("B", "b")}), {"a", "b"}},
        {concat({kMarker0, user("A", "a"), Bytes{1}, kSignature, user("B", "b")}), {"a"}},
        {concat({kMarker0, user("A", "a"), kSignature, user("Bob", "BobSmith", 3)}), {"a", "BobSm"}},
        {{}, {}}};
    for (const auto& [file, directories] : files)
        EXPECT_EQ(userDirectoryNames(parseUsersDat(file)), directories) << PrintToString(file);
}

// Settings in a registry of their own, and a HotSync set-up in the test folder.
class DesktopTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        environment = {
            path("me"), {}, path("me/.local/share"), path("bin").string(), [this] { return processes; }};
        database = writeFile("db/My Tones.PDB", asBytes("a ring tone database"));
        db = database.string();
    }
    void set(RegistryRoot root, std::string_view key, std::string_view name, std::string_view value)
    {
        ASSERT_TRUE((*registry.createKey(root, key))
                        ->setValue(name, {RegistryValueType::String, Bytes(value.begin(), value.end())}));
    }
    Result<std::string> install() { return makeInstallHandoff(environment)->install(database); }
    std::string read(const std::string& name) const { return asString(readFile(path(name))); }
    // gnome-pilot's tool, standing in: by default it keeps its arguments.
    void fakeGnomePilot(const std::string& script = "echo \"$@\" >\"$0.args\"\n")
    {
        fs::permissions(writeFile("bin/gpilot-install-file", asBytes("#!/bin/sh\n" + script)),
                        fs::perms::owner_all);
    }

    MemoryRegistry registry;
    SettingsStore store{registry};
    DatabaseLocation location{store};
    HotSyncEnvironment environment;
    std::vector<RunningProcess> processes = {{1, "init"}, {200, "bash"}};
    fs::path database;
    std::string db;
};

TEST_F(DesktopTest, TheSettingsStoreWritesTextsAndNumbersAndReadsThemBackAsText)
{
    // A write that fails empties the text; a read leaves it alone when it fails or the value is
    // neither a string nor a number. A number reads as "&h" and its bytes from the top, less a
    // top 0 byte, each below 0x0A in two digits, 0x0A to 0x0F in one.
    const std::string fits(kRegValueBufferBytes, 'p');
    const std::tuple<Type, std::string, bool, std::string> writes[] = {
        {Type::String, "user1", true, "user1"},
        {Type::String, fits, true, fits},
        {Type::String, fits + "p", false, "-"},
        {Type::Binary, "ab", true, "-"},
        {Type::Number32, "1", true, "&h000001"},
        {Type::Number32, "-2", true, "&hFFFFFFFE"},
        {Type::Number32, "&h0A0F0910", true, "&hAF0910"},
        {Type::Number32, "&HFF", true, "&h0000FF"},
        {Type::Number32, "twelve", false, "-"},
        {Type::Number32, "4294967296", false, "-"},
        {Type::MultiString, "x", false, "-"}};
    std::string read = "-";
    EXPECT_FALSE(store.ReadRegValue(LocalMachine, kProgramKey, "V", read)); // no key yet
    for (const auto& [type, written, stored, readBack] : writes) {
        std::string value = written;
        EXPECT_EQ(store.WriteRegValue(LocalMachine, kProgramKey, type, written, value), stored) << written;
        EXPECT_EQ(value, stored ? written : "") << written;
        read = "-";
        EXPECT_EQ(store.ReadRegValue(LocalMachine, kProgramKey, written, read), stored) << written;
        EXPECT_EQ(read, readBack) << written;
    }
    // Strings read the same with and without one terminating 0; one longer than the buffer cannot be read.
    const std::pair<Bytes, std::optional<std::string>> strings[] = {
        {{'u', 's', 'e', 'r', '1', 0}, "user1"},
        {{'a', 0, 0}, "a\0"s},
        {{}, ""},
        {Bytes(fits.size() + 1, 'a'), std::nullopt}};
    for (const auto& [data, expected] : strings) {
        ASSERT_TRUE((*registry.openKey(LocalMachine, kProgramKey))->setValue("S", {Type::String, data}));
        read = "-";
        EXPECT_EQ(store.ReadRegValue(LocalMachine, kProgramKey, "S", read), expected.has_value());
        EXPECT_EQ(read, expected.value_or("-"));
    }
    registry.refuseWrites("Access is denied"); // to a key that is there or one that is not
    for (auto subKey : {kProgramKey, "SOFTWARE\\New"sv}) {
        std::string refused = "1";
        EXPECT_FALSE(store.WriteRegValue(LocalMachine, subKey, Type::String, kDbOptionSetting, refused));
        EXPECT_EQ(refused, "");
    }
    EXPECT_FALSE(registry.openKey(LocalMachine, "SOFTWARE\\New"));
}

TEST_F(DesktopTest, TheFolderIsPalmDesktopsPathElseTheInstallCommandsAndItsUsersAreListed)
{
    // The install command's folder is what comes before the separator in front of "Instapp".
    set(CurrentUser, kInstallToolCommandKey, "", "\"Instapp.exe\" \"%1\""); // names no folder
    for (std::string option : {"", "0", "1"}) { // "1": a database file is chosen instead
        ASSERT_TRUE(store.writeSetting(kDbOptionSetting, option));
        EXPECT_EQ(startupMessage(discoverPalmDesktop(store), store),
                  option == "1" ? std::nullopt : std::optional("Can't find prcFile directory in registry"s));
    }
    set(LocalMachine, kInstallToolCommandKey, "", "\"C:\\Program Files\\Palm\\Instapp.exe\" \"%1\"");
    set(CurrentUser, kInstallToolCommandKey, "", "");
    EXPECT_EQ(findPalmDesktopDirectory(store), "C:\\Program Files\\Palm");
    set(CurrentUser, kInstallToolCommandKey, "", "/user/Palm/Instapp %1");
    set(CurrentUser, kPalmDesktopCoreKey, "Path", "");
    EXPECT_EQ(findPalmDesktopDirectory(store), "/user/Palm");
    set(CurrentUser, kPalmDesktopCoreKey, "Path", path("Palm").string());
    EXPECT_TRUE(discoverPalmDesktop(store).users.empty());
    EXPECT_FALSE(fs::exists(path("Palm"))); // nothing is created
    writeFile("Palm/users.dat", concat({kMarker0, user("Jane", "DoeJ"), kSignature, user("John", "RoeJ")}));
    ASSERT_TRUE(store.writeSetting(kDbOptionSetting, "0"));
    PalmDesktopDiscovery found = discoverPalmDesktop(store);
    EXPECT_EQ(found.PalmDesktopDirectory, path("Palm").string());
    EXPECT_THAT(userDirectoryNames(found.users), ElementsAre("DoeJ", "RoeJ"));
    EXPECT_EQ(startupMessage(found, store), std::nullopt);
}

// Palm Desktop under Wine: the prefix's user.reg and system.reg name the folder as the
// Windows registry does, and its drive letters lead into the prefix.
TEST_F(DesktopTest, WithoutASettingPalmDesktopIsFoundInTheWinePrefix)
{
    const std::string header =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n#arch=win32\n";
    const std::string core =
        "[Software\\\\U.S. Robotics\\\\Pilot Desktop\\\\Core] 1234567890\n#time=1d2a3b4c\n";
    const std::string command = "[Software\\\\Classes\\\\prcFile\\\\Shell\\\\open\\\\command] 1234567891\n";
    fs::create_directories(path("elsewhere"));
    fs::create_directories(path("wine/dosdevices"));
    fs::create_directory_symlink(path("elsewhere"), path("wine/dosdevices/d:"));
    // user.reg, system.reg, then the folder found (in the test folder; "" for none).
    const std::tuple<std::string, std::string, std::string> prefixes[] = {
        {core + "\"Path\"=\"C:\\\\Program Files\\\\Palm\"\r\n", "", "wine/drive_c/Program Files/Palm"},
        {"", command + "@=\"\\\"D:\\\\Palm\\\\Instapp.exe\\\" \\\"%1\\\"\"\n", "elsewhere/Palm"},
        {core + "\"Path\"=\"Q:\\\\Palm\"\n", "", ""}, // a drive the prefix does not have
        {"", "", ""}};
    for (const auto& [user, system, found] : prefixes) {
        SCOPED_TRACE(user + system);
        writeFile("wine/user.reg", asBytes(user.empty() ? "" : header + user));
        writeFile("wine/system.reg", asBytes(system.empty() ? "" : header + system));
        EXPECT_EQ(findPalmDesktopInWine(path("wine")), found.empty() ? "" : path(found).string());
    }
    writeFile("wine/user.reg", asBytes(header + core + "\"Path\"=\"C:\\\\Palm\"\n"));
    EXPECT_EQ(discoverPalmDesktop(store, path("wine")).PalmDesktopDirectory,
              path("wine/drive_c/Palm").string());
    set(CurrentUser, kPalmDesktopCoreKey, "Path", "/settings/Palm"); // the settings come first
    EXPECT_EQ(discoverPalmDesktop(store, path("wine")).PalmDesktopDirectory, "/settings/Palm");
}

TEST_F(DesktopTest, TheDatabaseLocationNeverGuessesAndNamesOneFolderForAUser)
{
    location.selectOption(1);
    EXPECT_THAT(location.ResolveDatabasePath().error(), HasSubstr("No database file is chosen"));
    location.setBrowsedPath("/browsed/My Tones.pdb");
    location.setBrowsedPath(""); // Browse cancelled
    EXPECT_EQ(location.ResolveDatabasePath().value(), "/browsed/My Tones.pdb");
    location.selectOption(0);
    EXPECT_THAT(location.ResolveDatabasePath().error(), HasSubstr("The Palm Desktop folder is not known"));
    location.setPalmDesktop("/palm", {"alice"});
    EXPECT_EQ(location.selectedUserIndex(), 0);
    location.pickUser(1); // past the list: nothing changes
    EXPECT_EQ(location.ResolveDatabasePath().value(), "/palm/alice/Backup/MIDI_Ring_Tones.PDB");
    for (std::string unsafe : {"", "..", ".", "a/b", "a\\b"}) { // typed before the settings are shown
        location.setUserText(unsafe);
        EXPECT_THAT(location.BackupPath().error(),
                    HasSubstr(unsafe.empty() ? "No HotSync user is selected"
                                             : "\"" + unsafe + "\" is not the name of a folder"));
    }
    EXPECT_EQ(location.selectedUserIndex(), -1);
    for (std::string option : {"1", " 1"}) { // only a stored "1" selects the path
        ASSERT_TRUE(store.writeSetting(kDbOptionSetting, option));
        location.applyStoredSettings();
        EXPECT_EQ(location.option(), option == "1" ? LocationOption::Path : LocationOption::HotSyncUser);
        EXPECT_EQ(store.readSetting(kDbOptionSetting), option == "1" ? "1" : "0");
    }
    EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "");
}

TEST_F(DesktopTest, TheFirstHotSyncToolInOrderTakesTheDatabaseElseTheMessageSaysHowToInstallItByHand)
{
    for (const char* folder :
         {"me/.jpilot", "me/.local/share/kpilot", "me/.kde/share/apps/kpilot", "me/.palm"})
        fs::create_directories(path(folder));
    fakeGnomePilot();
    // Each tool in turn, then its folder taken away: the file it was given and what that holds.
    const std::string copied = "a ring tone database";
    const std::tuple<std::string, std::string, std::string, std::string> tools[] = {
        {"J-Pilot", "me/.jpilot", "me/.jpilot/jpilot.install", db + "\n"},
        {"KPilot", "me/.local", "me/.local/share/kpilot/pending_install/My Tones.PDB", copied},
        {"KPilot", "me/.kde", "me/.kde/share/apps/kpilot/pending_install/My Tones.PDB", copied},
        {"gnome-pilot", "bin", "bin/gpilot-install-file.args", "--later " + db + "\n"},
        {"ColdSync", "me/.palm", "me/.palm/install/My Tones.PDB", copied}};
    for (const auto& [tool, folder, file, holds] : tools) {
        // The message names the copy, or the database itself.
        const std::string named = holds == copied ? path(file).string() : db;
        EXPECT_THAT(install().value(), AllOf(StartsWith(tool + " installs"), HasSubstr("\"" + named + "\"")));
        EXPECT_EQ(read(file), holds);
        fs::remove_all(path(folder));
    }
    EXPECT_THAT(
        install().error(),
        HasSubstr("Install \"" + db + "\" on the handheld with:\n    pilot-xfer -p usb: -i '" + db + "'"));
    fs::remove(database);
    EXPECT_THAT(install().error(), HasSubstr("There is no ring tone database at"));
}

TEST_F(DesktopTest, JPilotGetsTheAbsolutePathOnceInItsInstallListAndNeverWhileItRuns)
{
    writeFile("me/.jpilot/jpilot.install", asBytes("/earlier/file.prc"));
    for (int time = 0; time < 2; ++time)
        EXPECT_THAT(install().value(), HasSubstr("J-Pilot installs \"" + db + "\" at the next HotSync"));
    EXPECT_EQ(read("me/.jpilot/jpilot.install"), "/earlier/file.prc\n" + db + "\n");
    for (RunningProcess jpilot : {RunningProcess{4321, "jpilot-sync"}, RunningProcess{99, "jpilot"}}) {
        processes = {jpilot};
        writeFile("me/.jpilot/jpilot.install", {});
        EXPECT_THAT(install().error(), HasSubstr("J-Pilot is running (" + jpilot.name + ", process " +
                                                 std::to_string(jpilot.id)));
        EXPECT_EQ(read("me/.jpilot/jpilot.install"), "");
    }
    processes.clear();
    const std::string windowsLines = "/earlier/file.prc\r\n" + db + "\r\n";
    writeFile("me/.jpilot/jpilot.install", asBytes(windowsLines));
    EXPECT_TRUE(install());
    EXPECT_EQ(read("me/.jpilot/jpilot.install"), windowsLines);
    environment.jpilotHome = path("elsewhere");             // $JPILOT_HOME; a relative path is made absolute
    EXPECT_EQ(browseStart(environment).folder, fs::path()); // no J-Pilot: never the program's folder
    fs::create_directories(path("elsewhere/.jpilot/backup"));
    EXPECT_TRUE(makeInstallHandoff(environment)->install(fs::relative(database)));
    EXPECT_EQ(read("elsewhere/.jpilot/jpilot.install"), db + "\n");
    EXPECT_EQ(browseStart(environment).fileName, fs::path()); // in J-Pilot's backup, without a database
    writeFile("elsewhere/.jpilot/backup/MIDI Ring Tones.pdb", {});
    EXPECT_EQ(browseStart(environment).fileName, path("elsewhere/.jpilot/backup/MIDI Ring Tones.pdb"));

    const std::string name =
        std::string(program_invocation_short_name).substr(0, 15); // J-Pilot is looked for
    EXPECT_THAT(listRunningProcesses(),
                Contains(AllOf(Field(&RunningProcess::id, ::getpid()), Field(&RunningProcess::name, name))));
}

// gpilot-install-file says something, leaves a child holding its output open for a
// minute and exits at once with a failure.
TEST_F(DesktopTest, TheHandOffEndsWhenTheToolExitsThoughItsChildKeepsTheOutputOpen)
{
    fakeGnomePilot("echo 'told to fail' >&2\nsleep 60 &\necho $! > \"$0.child\"\nexit 3\n");
    const auto started = std::chrono::steady_clock::now();
    Result<std::string> done = install();
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

// users.dat keeps "Müller" with the Windows-1252 byte 0xFC; the folder copied from
// Windows may be named in UTF-8 or with that byte.
TEST_F(DesktopTest, AHotSyncUserInTheWindowsCodePageShowsInUtf8AndFindsItsFolderEitherWay)
{
    const Bytes users = concat({kMarker0, user("M\xFCller", "M\xFCller")});
    EXPECT_EQ(parseUsersDat(users).front(), (HotSyncUser{"Müller", "Müller"}));
    for (const std::string folder : {"Müller", "M\xFCller"}) {
        const fs::path palm = writeFile(std::to_string(folder.size()) + "/users.dat", users).parent_path();
        fs::create_directories(palm / folder / "Backup");
        location.applyStoredSettings();
        location.setPalmDesktop(palm.string(), userDirectoryNames(readHotSyncUsers(palm)));
        location.pickUser(0);
        EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "Müller");
        EXPECT_EQ(location.ResolveDatabasePath().value(), palm / folder / "Backup" / "MIDI_Ring_Tones.PDB");
    }
}

} // namespace
} // namespace chwr
