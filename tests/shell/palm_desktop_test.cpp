#include "shell/database_location.h"
#include "shell/palm_desktop.h"
#include "shell/users_dat.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Builds a users.dat byte by byte, in the order Palm Desktop lays it out.
class UsersDatBuilder {
public:
    // The 2-byte word that is skipped, then the marker.
    UsersDatBuilder& header(std::uint16_t marker)
    {
        word(0x0003);
        return word(marker);
    }
    // After a 0xFFFF marker: a skipped word and a length-prefixed text.
    UsersDatBuilder& headerText(std::string_view text, std::int16_t statedLength)
    {
        word(0x0000);
        word(static_cast<std::uint16_t>(statedLength));
        return raw(text);
    }
    UsersDatBuilder& signature() { return bytes({kUserSignatureFirst, kUserSignatureSecond}); }
    // 4 unused bytes, then the name and the directory name after their 1-byte lengths.
    UsersDatBuilder& user(std::string_view name, std::string_view directory)
    {
        bytes({0x11, 0x22, 0x33, 0x44});
        m_bytes.push_back(static_cast<std::uint8_t>(name.size()));
        raw(name);
        m_bytes.push_back(static_cast<std::uint8_t>(directory.size()));
        return raw(directory);
    }
    UsersDatBuilder& bytes(std::initializer_list<std::uint8_t> list)
    {
        m_bytes.insert(m_bytes.end(), list);
        return *this;
    }
    UsersDatBuilder& raw(std::string_view text)
    {
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
        return *this;
    }
    UsersDatBuilder& word(std::uint16_t value)
    {
        return bytes({static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)});
    }
    // Cuts the last count bytes, as a file written only in part.
    UsersDatBuilder& cut(std::size_t count)
    {
        m_bytes.resize(m_bytes.size() - count);
        return *this;
    }
    const Bytes& build() const { return m_bytes; }

private:
    Bytes m_bytes;
};

std::vector<std::string> directories(const Bytes& usersDat)
{
    return userDirectoryNames(parseUsersDat(usersDat));
}

TEST(UsersDat, SeveralUsersAreListedInFileOrder)
{
    Bytes file = UsersDatBuilder()
                     .header(0x0000)
                     .user("Jane Doe", "DoeJ")
                     .bytes({0x00, 0x05, 0x80}) // filler, with a lone 0x80
                     .signature()
                     .user("John Roe", "RoeJ")
                     .signature()
                     .user("Third", "Thi")
                     .build();
    EXPECT_EQ(parseUsersDat(file),
              (std::vector<HotSyncUser>{{"Jane Doe", "DoeJ"}, {"John Roe", "RoeJ"}, {"Third", "Thi"}}));
}

TEST(UsersDat, OnlyTheAllOnesMarkerAnnouncesTheHeaderText)
{
    Bytes withText =
        UsersDatBuilder().header(kUsersDatTextMarker).headerText("Palm", 4).user("A", "dirA").build();
    EXPECT_THAT(directories(withText), ElementsAre("dirA"));

    // With 0xFFFE the first user follows at once; had the text been skipped, the user's
    // first bytes would have been taken as the text's length.
    Bytes otherMarker = UsersDatBuilder().header(0xFFFE).user("A", "dirA").build();
    EXPECT_THAT(directories(otherMarker), ElementsAre("dirA"));

    Bytes negativeLength =
        UsersDatBuilder().header(kUsersDatTextMarker).headerText("", -5).user("A", "dirA").build();
    EXPECT_THAT(directories(negativeLength), ElementsAre("dirA"));
}

TEST(UsersDat, TheSignatureScanConsumesTheByteAfterEachOne)
{
    Bytes resumed = UsersDatBuilder()
                        .header(0)
                        .user("A", "first")
                        .bytes({0x01, 0x7F})
                        .signature()
                        .user("B", "second")
                        .build();
    EXPECT_THAT(directories(resumed), ElementsAre("first", "second"));

    Bytes swallowed =
        UsersDatBuilder().header(0).user("A", "first").bytes({0x01}).signature().user("B", "second").build();
    EXPECT_THAT(directories(swallowed), ElementsAre("first"));
}

TEST(UsersDat, ATruncatedRecordGivesWhatItHolds)
{
    Bytes shortened =
        UsersDatBuilder().header(0).user("A", "first").signature().user("Bob", "BobSmith").cut(3).build();
    EXPECT_THAT(directories(shortened), ElementsAre("first", "BobSm"));

    // Cut inside the name: no directory name is left, so no folder is named.
    Bytes nameOnly =
        UsersDatBuilder().header(0).user("A", "first").signature().user("Bob", "B").cut(3).build();
    EXPECT_THAT(directories(nameOnly), ElementsAre("first"));

    EXPECT_THAT(directories({}), ElementsAre());
    EXPECT_THAT(directories(UsersDatBuilder().header(kUsersDatTextMarker).headerText("x", 300).build()),
                ElementsAre());
}

class PalmDesktopTest : public test::TempFolderTest {
protected:
    void setString(RegistryRoot root, std::string_view key, std::string_view name, std::string_view text)
    {
        auto opened = registry.createKey(root, key);
        ASSERT_TRUE(opened);
        ASSERT_TRUE((*opened)->setValue(name, {RegistryValueType::String, Bytes(text.begin(), text.end())}));
    }
    void setPalmPath(std::string_view text)
    {
        setString(RegistryRoot::CurrentUser, kPalmDesktopCoreKey, "Path", text);
    }
    void setInstallCommand(RegistryRoot root, std::string_view text)
    {
        setString(root, kInstallToolCommandKey, "", text);
    }

    MemoryRegistry registry;
    SettingsStore store{registry};
};

TEST_F(PalmDesktopTest, PalmDesktopsPathWinsOverTheInstallCommand)
{
    setInstallCommand(RegistryRoot::CurrentUser, "\"/opt/palm/Instapp.exe\" \"%1\"");
    setPalmPath("/home/me/Palm");
    EXPECT_EQ(findPalmDesktopDirectory(store), "/home/me/Palm");
}

TEST_F(PalmDesktopTest, TheInstallCommandIsReadWhenPathIsEmptyOrAbsent)
{
    setInstallCommand(RegistryRoot::LocalMachine, "\"/machine/Palm/Instapp.exe\" \"%1\"");
    EXPECT_EQ(findPalmDesktopDirectory(store), "/machine/Palm");

    setInstallCommand(RegistryRoot::CurrentUser, "\"/user/Palm/Instapp.exe\" \"%1\"");
    setPalmPath("");
    EXPECT_EQ(findPalmDesktopDirectory(store), "/user/Palm");
}

TEST_F(PalmDesktopTest, TheFolderIsEverythingBeforeTheSeparatorInFrontOfInstapp)
{
    EXPECT_EQ(directoryFromInstallCommand("\"C:\\Program Files\\Palm\\Instapp.exe\" \"%1\""),
              "C:\\Program Files\\Palm");
    EXPECT_EQ(directoryFromInstallCommand("/opt/palm/Instapp %1"), "/opt/palm");
    // Without the exact text the whole line is taken, less a leading quote.
    EXPECT_EQ(directoryFromInstallCommand("\"C:\\Palm\\INSTAPP.EXE\" \"%1\""),
              "C:\\Palm\\INSTAPP.EXE\" \"%1\"");
    EXPECT_EQ(directoryFromInstallCommand("Instapp.exe"), "");
    EXPECT_EQ(directoryFromInstallCommand("\"Instapp.exe\""), "");
    EXPECT_EQ(directoryFromInstallCommand("/Instapp.exe /Instapp.exe"), "");
}

TEST_F(PalmDesktopTest, DiscoveryListsTheUsersOfTheFoldersUsersDat)
{
    Bytes usersDat =
        UsersDatBuilder().header(0).user("Jane", "DoeJ").signature().user("John", "RoeJ").build();
    writeFile("Palm/users.dat", usersDat);
    setPalmPath(path("Palm").string());

    PalmDesktopDiscovery found = discoverPalmDesktop(store);
    EXPECT_EQ(found.PalmDesktopDirectory, path("Palm").string());
    EXPECT_THAT(userDirectoryNames(found.users), ElementsAre("DoeJ", "RoeJ"));
    EXPECT_EQ(startupMessage(found, store), std::nullopt);
}

TEST_F(PalmDesktopTest, AMissingUsersDatListsNoUsersAndCreatesNothing)
{
    setPalmPath(path("Palm").string());
    PalmDesktopDiscovery found = discoverPalmDesktop(store);
    EXPECT_EQ(found.PalmDesktopDirectory, path("Palm").string());
    EXPECT_TRUE(found.users.empty());
    EXPECT_FALSE(std::filesystem::exists(path("Palm")));
}

TEST_F(PalmDesktopTest, NoFolderGivesTheStartUpMessageUnlessADatabaseFileIsChosen)
{
    PalmDesktopDiscovery none = discoverPalmDesktop(store);
    EXPECT_EQ(none.PalmDesktopDirectory, "");
    EXPECT_EQ(startupMessage(none, store), "Can't find prcFile directory in registry");

    ASSERT_TRUE(store.writeSetting(kDbOptionSetting, "0"));
    EXPECT_EQ(startupMessage(none, store), "Can't find prcFile directory in registry");
    ASSERT_TRUE(store.writeSetting(kDbOptionSetting, "1"));
    EXPECT_EQ(startupMessage(none, store), std::nullopt);

    // A command line that is all install tool names no folder either.
    setInstallCommand(RegistryRoot::CurrentUser, "Instapp.exe %1");
    ASSERT_TRUE(store.writeSetting(kDbOptionSetting, "0"));
    EXPECT_EQ(startupMessage(discoverPalmDesktop(store), store), "Can't find prcFile directory in registry");
}

class DatabaseLocationTest : public PalmDesktopTest {
protected:
    DatabaseLocation location{store};
};

TEST_F(DatabaseLocationTest, TheOptionEnablesItsControlsAndIsStored)
{
    location.selectOption(1);
    EXPECT_EQ(location.option(), LocationOption::Path);
    EXPECT_TRUE(location.pathControlsEnabled());
    EXPECT_FALSE(location.userBoxEnabled());
    EXPECT_EQ(registry.contents()
                  .findKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0")
                  ->values.at(0)
                  .value,
              (RegistryValue{RegistryValueType::String, {'1'}}));

    location.selectOption(0);
    EXPECT_EQ(location.option(), LocationOption::HotSyncUser);
    EXPECT_FALSE(location.pathControlsEnabled());
    EXPECT_TRUE(location.userBoxEnabled());
    EXPECT_EQ(store.readSetting(kDbOptionSetting), "0");
}

TEST_F(DatabaseLocationTest, OnlyAStoredOneSelectsThePathOption)
{
    for (std::string stored : {"1", "0", "", "2", " 1"}) {
        ASSERT_TRUE(store.writeSetting(kDbOptionSetting, stored));
        location.applyStoredSettings();
        EXPECT_EQ(location.option(), stored == "1" ? LocationOption::Path : LocationOption::HotSyncUser)
            << stored;
    }
    MemoryRegistry empty;
    SettingsStore emptyStore(empty);
    DatabaseLocation fresh(emptyStore);
    fresh.applyStoredSettings();
    EXPECT_EQ(fresh.option(), LocationOption::HotSyncUser);
    EXPECT_EQ(emptyStore.readSetting(kDbOptionSetting), "0");
}

TEST_F(DatabaseLocationTest, TheUserIsStoredOnlyOnceSettingsAreRestored)
{
    location.setPalmDesktop("/palm", {"alice", "bob"});
    EXPECT_EQ(location.userText(), "alice");
    EXPECT_EQ(location.selectedUserIndex(), 0);
    location.setUserText("typed early");
    EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "");

    location.applyStoredSettings();
    EXPECT_TRUE(location.settingsRestored());
    EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "");

    location.setUserText("carol");
    EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "carol");
    EXPECT_EQ(location.selectedUserIndex(), -1);
    location.pickUser(1);
    EXPECT_EQ(location.userText(), "bob");
    EXPECT_EQ(location.selectedUserIndex(), 1);
    EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "bob");
}

TEST_F(DatabaseLocationTest, EachActivationReplacesUnstoredEditsWithTheStoredSettings)
{
    ASSERT_TRUE(store.writeSetting(kDbPathSetting, "/stored/MIDI_Ring_Tones.PDB"));
    ASSERT_TRUE(store.writeSetting(kDbHotSyncIdSetting, "bob"));
    location.setPalmDesktop("/palm", {"alice", "bob"});
    location.applyStoredSettings();
    EXPECT_EQ(location.pathText(), "/stored/MIDI_Ring_Tones.PDB");
    EXPECT_EQ(location.userText(), "bob");
    EXPECT_EQ(location.selectedUserIndex(), 1);

    location.setPathText("/typed/but/not/browsed.pdb");
    location.applyStoredSettings();
    EXPECT_EQ(location.pathText(), "/stored/MIDI_Ring_Tones.PDB");

    location.setBrowsedPath("/browsed/db.pdb");
    EXPECT_EQ(store.readSetting(kDbPathSetting), "/browsed/db.pdb");
    EXPECT_EQ(location.option(), LocationOption::HotSyncUser);
    location.applyStoredSettings();
    EXPECT_EQ(location.pathText(), "/browsed/db.pdb");
}

TEST_F(DatabaseLocationTest, EmptyStoredSettingsLeaveTheControlsAsTheyWere)
{
    location.setPalmDesktop("/palm", {"alice"});
    location.setPathText("/typed.pdb");
    ASSERT_TRUE(store.writeSetting(kDbHotSyncIdSetting, ""));
    location.applyStoredSettings();
    EXPECT_EQ(location.pathText(), "/typed.pdb");
    EXPECT_EQ(location.userText(), "alice");
}

TEST_F(DatabaseLocationTest, TheHotSyncUsersDatabaseIsInTheirBackupFolder)
{
    location.setPalmDesktop("/palm", {"user1"});
    EXPECT_EQ(location.ResolveDatabasePath().value(),
              std::filesystem::path("/palm/user1/Backup/MIDI_Ring_Tones.PDB"));
    EXPECT_EQ(location.BackupPath().value(), std::filesystem::path("/palm/user1/Backup/MIDI_Ring_Tones.bak"));
}

TEST_F(DatabaseLocationTest, AChosenFileIsUsedAsItStandsAndItsBackupGoesToTheProgramFolder)
{
    location.setPalmDesktop("/palm", {"user1"});
    location.setBrowsedPath("/elsewhere/My Ring Tones.pdb");
    location.selectOption(1);
    EXPECT_EQ(location.ResolveDatabasePath().value(), std::filesystem::path("/elsewhere/My Ring Tones.pdb"));
    EXPECT_EQ(location.BackupPath().value(), home() / "MIDI_Ring_Tones.bak");
}

TEST_F(DatabaseLocationTest, AMissingChoiceIsRefusedRatherThanGuessed)
{
    auto noFolder = location.ResolveDatabasePath();
    ASSERT_FALSE(noFolder);
    EXPECT_THAT(noFolder.error(), HasSubstr("The Palm Desktop folder is not known"));
    EXPECT_THAT(noFolder.error(),
                HasSubstr("\"Path\" of [HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Core]"));
    EXPECT_THAT(noFolder.error(), HasSubstr(path("registry.reg").string()));

    location.setPalmDesktop("/palm", {});
    EXPECT_EQ(
        location.ResolveDatabasePath().error(),
        "No HotSync user is selected: choose one under \"Hotsync ID (shortname):\", or choose the database "
        "file under \"Path:\".");
    EXPECT_FALSE(location.BackupPath());

    for (std::string unsafe : {"..", "../etc", "a/b", "a\\b", "."}) {
        location.setUserText(unsafe);
        EXPECT_EQ(location.ResolveDatabasePath().error(),
                  "The HotSync user \"" + unsafe + "\" is not the name of a folder.");
    }

    location.selectOption(1);
    EXPECT_EQ(location.ResolveDatabasePath().error(),
              "No database file is chosen: choose one with \"Browse\" under \"Path:\".");
}

} // namespace
} // namespace chwr
