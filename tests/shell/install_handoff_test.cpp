#include "shell/hotsync_environment.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace chwr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

class InstallHandoffTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        fs::create_directories(path("me"));
        environment.home = path("me");
        environment.dataHome = path("me/.local/share");
        environment.searchPath = path("bin").string();
        environment.runningProcesses = [this] { return processes; };
        database = writeFile("db/MIDI_Ring_Tones.PDB", asBytes("a ring tone database"));
    }

    Result<std::string> install() { return makeInstallHandoff(environment)->install(database); }

    // A stand-in for gnome-pilot's tool: records its arguments, answers with status.
    void fakeGnomePilot(int status)
    {
        fs::path tool = writeFile(
            "bin/gpilot-install-file",
            asBytes("#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/arguments\"\necho 'told to fail' >&2\n"
                    "exit " +
                    std::to_string(status) + "\n"));
        fs::permissions(tool, fs::perms::owner_all);
    }

    HotSyncEnvironment environment;
    std::vector<RunningProcess> processes = {{1, "init"}, {200, "bash"}};
    fs::path database;
};

TEST_F(InstallHandoffTest, JPilotGetsTheAbsolutePathOnceInItsInstallList)
{
    fs::create_directories(path("me/.jpilot"));
    writeFile("me/.jpilot/jpilot.install", asBytes("/earlier/file.prc"));

    auto first = install();
    ASSERT_TRUE(first) << first.error();
    EXPECT_EQ(*first, "J-Pilot installs \"" + database.string() +
                          "\" at the next HotSync. Leave the file where it is until then.");
    auto second = install();
    ASSERT_TRUE(second);

    EXPECT_EQ(asString(readFile(path("me/.jpilot/jpilot.install"))),
              "/earlier/file.prc\n" + database.string() + "\n");
    EXPECT_TRUE(fs::exists(database));
    EXPECT_THAT(listFolder(path("me/.jpilot")), ElementsAre("jpilot.install"));
}

TEST_F(InstallHandoffTest, JPilotHomeComesFromJPILOT_HOMEAndARelativePathIsMadeAbsolute)
{
    environment.jpilotHome = path("elsewhere");
    fs::create_directories(path("elsewhere/.jpilot"));
    fs::create_directories(path("me/.jpilot"));
    fs::path relative = fs::relative(database);

    auto done = makeInstallHandoff(environment)->install(relative);
    ASSERT_TRUE(done) << done.error();
    EXPECT_EQ(asString(readFile(path("elsewhere/.jpilot/jpilot.install"))), database.string() + "\n");
    EXPECT_FALSE(fs::exists(path("me/.jpilot/jpilot.install")));
}

TEST_F(InstallHandoffTest, NothingIsAddedWhileJPilotRuns)
{
    fs::create_directories(path("me/.jpilot"));
    writeFile("me/.jpilot/jpilot.install", asBytes("/earlier/file.prc\n"));
    processes.push_back({4321, "jpilot-sync"});

    auto refused = install();
    ASSERT_FALSE(refused);
    EXPECT_THAT(refused.error(), HasSubstr("J-Pilot is running (jpilot-sync, process 4321)"));
    EXPECT_THAT(refused.error(), HasSubstr("was not added to it. Close J-Pilot and install again"));
    EXPECT_EQ(asString(readFile(path("me/.jpilot/jpilot.install"))), "/earlier/file.prc\n");

    processes.back() = {99, "jpilot"};
    EXPECT_THAT(install().error(), HasSubstr("J-Pilot is running (jpilot, process 99)"));
}

TEST_F(InstallHandoffTest, ARunningJPilotSyncIsSeenAmongTheSystemsProcesses)
{
    // A copy of sleep named like J-Pilot's sync program.
    fs::path fake = path("bin/jpilot-sync");
    fs::create_directories(fake.parent_path());
    fs::copy_file("/bin/sleep", fake);
    std::string program = fake.string();
    std::string seconds = "30";
    char* argv[] = {program.data(), seconds.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);

    bool seen = false;
    for (int attempt = 0; attempt < 50 && !seen; ++attempt) {
        for (const RunningProcess& process : listRunningProcesses())
            seen = seen || (process.id == pid && process.name == "jpilot-sync");
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(seen);
}

TEST_F(InstallHandoffTest, KPilotGetsACopyInItsPendingFolder)
{
    fs::create_directories(path("me/.local/share/kpilot"));
    auto done = install();
    ASSERT_TRUE(done) << done.error();
    fs::path copy = path("me/.local/share/kpilot/pending_install/MIDI_Ring_Tones.PDB");
    EXPECT_EQ(*done,
              "KPilot installs the ring tone database at the next HotSync: a copy of it is waiting in \"" +
                  copy.string() + "\".");
    EXPECT_EQ(asString(readFile(copy)), "a ring tone database");

    // KDE 4 kept its data under ~/.kde.
    fs::remove_all(path("me/.local"));
    fs::create_directories(path("me/.kde/share/apps/kpilot/pending_install"));
    ASSERT_TRUE(install());
    EXPECT_EQ(asString(readFile(path("me/.kde/share/apps/kpilot/pending_install/MIDI_Ring_Tones.PDB"))),
              "a ring tone database");
}

TEST_F(InstallHandoffTest, GnomePilotsToolQueuesTheFileForLater)
{
    fakeGnomePilot(0);
    auto done = install();
    ASSERT_TRUE(done) << done.error();
    EXPECT_THAT(*done, HasSubstr("gnome-pilot installs \"" + database.string() + "\" at the next HotSync"));
    EXPECT_EQ(asString(readFile(path("bin/arguments"))), "--later " + database.string() + "\n");
}

TEST_F(InstallHandoffTest, AFailingGnomePilotToolIsReportedWithItsWords)
{
    fakeGnomePilot(3);
    auto failed = install();
    ASSERT_FALSE(failed);
    EXPECT_THAT(failed.error(), HasSubstr("gnome-pilot did not take \"" + database.string() +
                                          "\" (gpilot-install-file ended with status 3: told to fail)"));
    EXPECT_THAT(failed.error(), HasSubstr("pilot-xfer -p usb: -i " + database.string()));
}

TEST_F(InstallHandoffTest, ColdSyncGetsACopyInItsInstallFolder)
{
    fs::create_directories(path("me/.palm"));
    auto done = install();
    ASSERT_TRUE(done) << done.error();
    EXPECT_THAT(*done, HasSubstr("ColdSync installs the ring tone database"));
    EXPECT_EQ(asString(readFile(path("me/.palm/install/MIDI_Ring_Tones.PDB"))), "a ring tone database");
}

TEST_F(InstallHandoffTest, TheFirstToolInOrderTakesTheFile)
{
    fs::create_directories(path("me/.jpilot"));
    fs::create_directories(path("me/.local/share/kpilot"));
    fs::create_directories(path("me/.palm"));
    fakeGnomePilot(0);
    ASSERT_TRUE(install());
    EXPECT_TRUE(fs::exists(path("me/.jpilot/jpilot.install")));
    EXPECT_FALSE(fs::exists(path("me/.local/share/kpilot/pending_install")));
    EXPECT_FALSE(fs::exists(path("bin/arguments")));
    EXPECT_FALSE(fs::exists(path("me/.palm/install")));

    fs::remove_all(path("me/.jpilot"));
    fs::remove_all(path("me/.local"));
    ASSERT_TRUE(install());
    EXPECT_TRUE(fs::exists(path("bin/arguments")));
    EXPECT_FALSE(fs::exists(path("me/.palm/install")));
}

TEST_F(InstallHandoffTest, WithoutAToolTheMessageNamesTheCommandThatInstallsByHand)
{
    database = writeFile("db/My Tones.PDB", asBytes("x"));
    auto none = install();
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error(), "No HotSync tool was found to install the ring tone database (J-Pilot, KPilot, "
                            "gnome-pilot or ColdSync). Install \"" +
                                database.string() + "\" on the handheld with:\n    pilot-xfer -p usb: -i '" +
                                database.string() + "'");
}

TEST_F(InstallHandoffTest, AMissingDatabaseIsNotHandedOver)
{
    fs::create_directories(path("me/.jpilot"));
    fs::remove(database);
    EXPECT_EQ(install().error(),
              "There is no ring tone database at \"" + database.string() + "\" to install.");
    EXPECT_FALSE(fs::exists(path("me/.jpilot/jpilot.install")));
}

TEST_F(InstallHandoffTest, BrowseStartsInJPilotsBackupWhenThereIsOne)
{
    BrowseStart plain = browseStart(environment);
    EXPECT_EQ(plain.folder, home());
    EXPECT_EQ(plain.fileName, home() / "MIDI_Ring_Tones.PDB");

    fs::create_directories(path("me/.jpilot/backup"));
    BrowseStart jpilot = browseStart(environment);
    EXPECT_EQ(jpilot.folder, path("me/.jpilot/backup"));
    EXPECT_EQ(jpilot.fileName, fs::path());

    writeFile("me/.jpilot/backup/MIDI Ring Tones.pdb", asBytes("x"));
    EXPECT_EQ(browseStart(environment).fileName, path("me/.jpilot/backup/MIDI Ring Tones.pdb"));
}

} // namespace
} // namespace chwr
