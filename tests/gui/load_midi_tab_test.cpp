#include "midi_edit/ui/mm_control.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "ringtone_db/ring_tone_database.h"
#include "shell/file_io.h"
#include "shell/ui/setup_tab.h"
#include "tests/gui/main_window_fixture.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cerrno>

namespace chwr {
namespace {
namespace fs = std::filesystem;
using test::PdbBuilder;
using test::ScriptedPlayer;
using test::smallSong;

// The "Load MIDI" tab of the real window over a database chosen under "Path:".
class LoadMidi : public test::MainWindowTest {
protected:
    // A database of two ring tones: one from elsewhere and one this program added.
    void openWithDatabase()
    {
        database =
            writeDatabase("Treo/MIDI_Ring_Tones.PDB", PdbBuilder()
                                                          .modnumber(5)
                                                          .ringTone("Morning", smallSong(0, 60))
                                                          .ringTone("Ring (2)", withMark(smallSong(10, 72))));
        chooseDatabaseFile(database);
        openWindow();
    }

    void openAndLoad()
    {
        openWithDatabase();
        clickLoad();
        ASSERT_EQ(list().topLevelItemCount(), 2);
        ui.messages.clear();
    }

    static Bytes withMark(Bytes data)
    {
        data.push_back(AddedMark);
        return data;
    }

    RingToneDatabase onDisk(const fs::path& file) const
    {
        Result<RingToneDatabase> decoded = RingToneDatabase::decode(readFile(file));
        EXPECT_TRUE(decoded.ok()) << decoded.error();
        return decoded ? std::move(decoded).value() : RingToneDatabase();
    }

    LoadMidiTab& tab() { return *form->loadTab; }
    ScriptedPlayer& ringTonePlayer() { return player(tab().MMControl2); }
    QString text(const fs::path& file) const { return QString::fromStdString(file.string()); }

    fs::path database;
};

TEST_F(LoadMidi, ListsEveryRingToneWithItsSizeAndAddedMark)
{
    openWithDatabase();
    clickLoad();
    EXPECT_TRUE(ui.messages.shown.empty());
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)"}));
    EXPECT_EQ(column(1), (QStringList{QString::number(smallSong(0, 60).size()),
                                      QString::number(smallSong(10, 72).size() + 1)}));
    EXPECT_EQ(column(2), (QStringList{"", "x"}));
    EXPECT_TRUE(tab().Command2->isEnabled());
    EXPECT_TRUE(tab().Command7->isEnabled());
    EXPECT_EQ(tab().Command1->text(), "Reload Current Ring Tones");
    // The header, the record list and one 0x00, as read.
    EXPECT_EQ(readFile(home() / "MIDI_Ring_Tones2.PDB").size(), 79u + 8u * 2u);

    clickLoad();
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)"}));
}

TEST_F(LoadMidi, ShowsNamesFromTheHandheldsCodePage)
{
    database = writeDatabase("tones.PDB", PdbBuilder().ringTone("Caf\xE9", smallSong()));
    chooseDatabaseFile(database);
    openWindow();
    clickLoad();
    EXPECT_EQ(column(0), QStringList{QString::fromUtf8("Caf\u00e9")});
}

TEST_F(LoadMidi, AMissingDatabaseIsNamedAndLeavesNothingLoaded)
{
    openAndLoad();
    const fs::path missing = path("Treo/gone.PDB");
    form->location().setPathText(missing.string());
    clickLoad();

    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].text,
              "The MIDI Ring Tone database does not exist for this user: " + text(missing));
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(list().topLevelItemCount(), 0);
    EXPECT_EQ(tab().Command1->text(), "Reload Current Ring Tones");

    // What the list no longer shows cannot be written.
    ui.messages.clear();
    tab().Command7->click();
    EXPECT_EQ(ui.messages.texts(), QStringList{"No MIDI Ring Tones loaded."});
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(LoadMidi, BeforeAnyLoadAMissingDatabaseChangesNoButton)
{
    chooseDatabaseFile(path("none.PDB"));
    openWindow();
    clickLoad();
    EXPECT_EQ(ui.messages.texts(), QStringList{"The MIDI Ring Tone database does not exist for this user: " +
                                               text(path("none.PDB"))});
    EXPECT_FALSE(tab().Command2->isEnabled());
    EXPECT_FALSE(tab().Command7->isEnabled());
    EXPECT_EQ(tab().Command1->text(), "Load Current Ring Tones");
}

TEST_F(LoadMidi, ADamagedDatabaseIsRefusedAndTheEarlierListStays)
{
    openAndLoad();
    const fs::path damaged = writeFile("damaged.PDB", test::bytesOf("too short for a header"));
    form->location().setPathText(damaged.string());
    clickLoad();
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_TRUE(ui.messages.shown[0].text.contains("damaged")) << ui.messages.shown[0].text.toStdString();
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)"}));
}

TEST_F(LoadMidi, TheHotSyncUsersBackupFolderHoldsTheDatabaseAndItsBackup)
{
    installPalmDesktop(path("Palm"), {"Treo"});
    const fs::path backup = path("Palm/Treo/Backup");
    writeDatabase("Palm/Treo/Backup/MIDI_Ring_Tones.PDB", PdbBuilder().ringTone("Bell", smallSong()));
    openWindow();
    clickLoad();
    EXPECT_EQ(column(0), QStringList{"Bell"});

    tab().Command7->click();
    EXPECT_TRUE(fs::exists(backup / "MIDI_Ring_Tones.bak"));
    EXPECT_FALSE(fs::exists(home() / "MIDI_Ring_Tones.bak"));
    ASSERT_EQ(ui.install.installed.size(), 1u);
    EXPECT_EQ(ui.install.installed[0], backup / "MIDI_Ring_Tones.PDB");
}

TEST_F(LoadMidi, WithTheHotSyncOptionAndNoUserTheLoadSaysWhy)
{
    installPalmDesktop(path("Palm"), {});
    openWindow();
    clickLoad();
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_TRUE(ui.messages.shown[0].text.startsWith("No HotSync user is selected"));
    EXPECT_EQ(list().topLevelItemCount(), 0);
}

TEST_F(LoadMidi, AddsAMidiFileUnderAFreeNameAndSelectsIt)
{
    openAndLoad();
    const Bytes song = smallSong(40);
    const fs::path file = writeFile("songs/Morning.mid", song);
    ui.dialogs.answer(file);
    tab().Command2->click();

    ASSERT_EQ(ui.dialogs.calls.size(), 1u);
    const FileDialogRequest& request = ui.dialogs.calls[0].request;
    EXPECT_EQ(ui.dialogs.calls[0].kind, test::DialogKind::Open);
    EXPECT_EQ(request.title, "Add MIDI File");
    EXPECT_EQ(request.filter, "MIDI File (*.mid)|*.mid");
    EXPECT_EQ(request.initialFolder, text(home() / "midi"));
    EXPECT_TRUE(request.fileName.isEmpty());

    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)", "Morning (1)"}));
    EXPECT_EQ(column(1).back(), QString::number(song.size() + 1));
    EXPECT_EQ(column(2).back(), "x");
    EXPECT_EQ(tab().selectedRow(), 2u);
    EXPECT_EQ(form->midiState().MidiDisplayName, "Morning");
    // Selecting the new row from code starts no preview.
    EXPECT_FALSE(ringTonePlayer().isOpen());
    EXPECT_TRUE(ui.messages.shown.empty());

    // A title with a counter gives its stem: "Ring (7).mid" is named from "Ring".
    ui.dialogs.answer(writeFile("songs/Ring (7).mid", song));
    tab().Command2->click();
    EXPECT_EQ(column(0).back(), "Ring");
}

TEST_F(LoadMidi, AFileOfExactly64000BytesIsTheLargestAccepted)
{
    openAndLoad();
    ui.dialogs.answer(writeFile("big.mid", test::midiFileOfSize(64000)));
    tab().Command2->click();
    EXPECT_EQ(column(1).back(), "64001");

    ui.dialogs.answer(writeFile("bigger.mid", test::midiFileOfSize(64001)));
    tab().Command2->click();
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].text, "This MIDI file is larger than 64k and cannot be imported.");
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(list().topLevelItemCount(), 3);
}

TEST_F(LoadMidi, AddingIsRefusedBeforeALoadAndACancelledDialogChangesNothing)
{
    openWindow();
    ui.messages.clear();
    tab().Command2_Click();
    EXPECT_EQ(ui.messages.texts(), QStringList{"No MIDI Ring Tones loaded."});
    EXPECT_TRUE(ui.dialogs.calls.empty());

    form->close();
    form.reset();
    openAndLoad();
    ui.dialogs.cancel();
    tab().Command2->click();
    EXPECT_EQ(list().topLevelItemCount(), 2);
    EXPECT_TRUE(ui.messages.shown.empty());
}

TEST_F(LoadMidi, UpdateWritesTheListKeepsABackupAndHandsTheDatabaseOver)
{
    openAndLoad();
    const Bytes original = readFile(database);
    ui.dialogs.answer(writeFile("Flute.mid", smallSong(73)));
    tab().Command2->click();
    tab().Command7->click();

    RingToneDatabase written = onDisk(database);
    ASSERT_EQ(written.ringTones().size(), 3u);
    EXPECT_EQ(asString(written.ringTones()[2].name), "Flute");
    EXPECT_TRUE(written.ringTones()[2].carriesAddedMark());
    EXPECT_EQ(written.header().modificationNumber(), 6u);
    // With a database file chosen by path, the backup goes to the program's folder.
    EXPECT_EQ(readFile(home() / "MIDI_Ring_Tones.bak"), original);
    EXPECT_EQ(ui.install.installed, std::vector<fs::path>{database});
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].text, QString("HotSync your device to update your Ring Tones.\n\n") +
                                             QString::fromStdString(ui.install.sentence));
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Information);

    // A second write counts on, and its backup is the first write.
    const Bytes first = readFile(database);
    tab().Command7->click();
    EXPECT_EQ(onDisk(database).header().modificationNumber(), 7u);
    EXPECT_EQ(readFile(home() / "MIDI_Ring_Tones.bak"), first);
}

TEST_F(LoadMidi, WithoutAHotSyncToolTheDatabaseIsWrittenAndTheUserToldWhatToRun)
{
    openAndLoad();
    ui.install.failure = "No HotSync tool was found; install it by hand with pilot-xfer -p usb: -i FILE";
    tab().Command7->click();
    EXPECT_EQ(onDisk(database).header().modificationNumber(), 6u);
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_TRUE(ui.messages.shown[0].text.startsWith("HotSync your device to update your Ring Tones."));
    EXPECT_TRUE(ui.messages.shown[0].text.contains("pilot-xfer -p usb: -i"));
}

TEST_F(LoadMidi, AFailedWriteLeavesTheDatabaseAsItWas)
{
    openAndLoad();
    const Bytes original = readFile(database);
    setFileFaultHook([](FileOp op, const fs::path&) { return op == FileOp::Rename ? ENOSPC : 0; });
    tab().Command7->click();
    setFileFaultHook({});

    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(ui.messages.shown[0].text.contains("No space left on device"))
        << ui.messages.shown[0].text.toStdString();
    EXPECT_EQ(readFile(database), original);
    EXPECT_TRUE(ui.install.installed.empty());
    EXPECT_EQ(listFolder(database.parent_path()), std::vector<std::string>{"MIDI_Ring_Tones.PDB"});
}

TEST_F(LoadMidi, UpdateIsRefusedBeforeALoad)
{
    chooseDatabaseFile(path("never.PDB"));
    openWindow();
    ui.messages.clear();
    tab().Command7_Click();
    EXPECT_EQ(ui.messages.texts(), QStringList{"No MIDI Ring Tones loaded."});
    EXPECT_FALSE(fs::exists(path("never.PDB")));
    EXPECT_TRUE(ui.install.installed.empty());
}

TEST_F(LoadMidi, ClickingARingTonePlaysItsPreview)
{
    openAndLoad();
    ringTonePlayer().clearCalls();
    clickRow(1);
    EXPECT_TRUE(ui.messages.shown.empty());
    const fs::path preview = home() / "Chimewright.dat";
    EXPECT_EQ(readFile(preview), withMark(smallSong(10, 72)));
    EXPECT_TRUE(tab().MMControl2->isEnabled());
    EXPECT_TRUE(tab().Command13->isEnabled());
    EXPECT_TRUE(tab().Command14->isEnabled());
    EXPECT_EQ(ringTonePlayer().calls(),
              (std::vector<std::string>{"Enabled=1", "Close", "DeviceType=Sequencer",
                                        "FileName=" + preview.string(), "Open", "Play"}));

    clickRow(0);
    EXPECT_EQ(readFile(preview), smallSong(0, 60));
}

TEST_F(LoadMidi, ClicksThatFindNoRingToneSayWhy)
{
    openWindow();
    ui.messages.clear();
    clickRow(-1);
    EXPECT_EQ(ui.messages.texts(), QStringList{"No MIDI Ring Tones loaded."});
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Exclamation);

    form.reset();
    openAndLoad();
    clickRow(-1);
    EXPECT_EQ(ui.messages.texts(), QStringList{"No Ring Tone selected."});
    EXPECT_FALSE(fs::exists(home() / "Chimewright.dat"));
    EXPECT_FALSE(tab().Command13->isEnabled());
}

TEST_F(LoadMidi, APlayerThatCannotOpenThePreviewSaysWhy)
{
    openAndLoad();
    ringTonePlayer().failNextOpen("No General MIDI SoundFont is installed.");
    clickRow(0);
    EXPECT_EQ(ui.messages.texts(), QStringList{"No General MIDI SoundFont is installed."});
}

TEST_F(LoadMidi, ARingToneThatPlayedToItsEndStandsAtItsStartAgain)
{
    openAndLoad();
    clickRow(0);
    ScriptedPlayer& player = ringTonePlayer();
    player.setPosition(4000);
    player.clearCalls();
    player.raiseStatusUpdate();
    EXPECT_TRUE(player.commands().empty());

    player.setPosition(player.length());
    player.raiseStatusUpdate();
    EXPECT_EQ(player.commands(), std::vector<std::string>{"Prev"});
}

TEST_F(LoadMidi, ExportOffersAFreeNameInTheMidiFolderAndWritesTheData)
{
    openAndLoad();
    writeFile("home/midi/Morning.mid", test::bytesOf("taken"));
    clickRow(0);
    ui.dialogs.cancel();
    tab().Command13->click();
    ASSERT_EQ(ui.dialogs.calls.size(), 1u);
    EXPECT_EQ(ui.dialogs.calls[0].kind, test::DialogKind::Save);
    EXPECT_EQ(ui.dialogs.calls[0].request.title, "Export MIDI File");
    EXPECT_EQ(ui.dialogs.calls[0].request.filter, "MIDI File (*.mid)|*.mid");
    EXPECT_EQ(ui.dialogs.calls[0].request.fileName, text(home() / "midi" / "Morning (1).mid"));
    EXPECT_EQ(listFolder(home() / "midi"), (std::vector<std::string>{"Morning.mid", "debug.txt"}));

    clickRow(1);
    const fs::path chosen = writeFile("out/Ring.mid", test::bytesOf("replaced"));
    ui.dialogs.answer(chosen);
    tab().Command13->click();
    // The ring tone's data as the list holds it, the added mark included.
    EXPECT_EQ(readFile(chosen), withMark(smallSong(10, 72)));
    EXPECT_EQ(listFolder(path("out")), std::vector<std::string>{"Ring.mid"});
    EXPECT_TRUE(ui.messages.shown.empty());
}

TEST_F(LoadMidi, ExportNamesCannotLeaveTheMidiFolder)
{
    database = writeDatabase("tones.PDB", PdbBuilder().ringTone("../up/away", smallSong()));
    chooseDatabaseFile(database);
    openWindow();
    clickLoad();
    clickRow(0);
    ui.dialogs.cancel();
    tab().Command13->click();
    ASSERT_EQ(ui.dialogs.calls.size(), 1u);
    EXPECT_EQ(ui.dialogs.calls[0].request.fileName, text(home() / "midi" / ".._up_away.mid"));
}

TEST_F(LoadMidi, AFailedExportSaysWhy)
{
    openAndLoad();
    clickRow(0);
    ui.dialogs.answer(path("no such folder/Morning.mid"));
    tab().Command13->click();
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(fs::exists(path("no such folder")));
}

} // namespace
} // namespace chwr
