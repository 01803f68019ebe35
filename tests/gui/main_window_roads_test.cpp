#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/crop_rules.h"
#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/modify_midi_tab.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "ringtone_db/ring_tone_database.h"
#include "tests/gui/main_window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>

namespace chwr {
namespace {
namespace fs = std::filesystem;
using test::PdbBuilder;
using test::smallSong;

// The window's two roads: a MIDI file to the handheld, and a ring tone through the
// "Modify MIDI" tab back into the list.
class Roads : public test::MainWindowTest {
protected:
    void openAndLoad()
    {
        database =
            writeDatabase("Treo/MIDI_Ring_Tones.PDB", PdbBuilder()
                                                          .ringTone("Morning", smallSong(0, 60))
                                                          .ringTone("Ring (2)", withMark(smallSong(10, 72))));
        chooseDatabaseFile(database);
        openWindow();
        clickLoad();
        ASSERT_EQ(list().topLevelItemCount(), 2);
        ui.messages.clear();
    }

    static Bytes withMark(Bytes data)
    {
        data.push_back(AddedMark);
        return data;
    }

    RingToneDatabase onDisk() const
    {
        Result<RingToneDatabase> decoded = RingToneDatabase::decode(readFile(database));
        EXPECT_TRUE(decoded.ok()) << decoded.error();
        return decoded ? std::move(decoded).value() : RingToneDatabase();
    }

    // A Note On of this key on channel 0 with the velocity the sample songs use.
    static bool playsKey(const Bytes& song, std::uint8_t key)
    {
        const Bytes noteOn = {0x90, key, 100};
        return std::search(song.begin(), song.end(), noteOn.begin(), noteOn.end()) != song.end();
    }

    void modifyRow(int row)
    {
        clickRow(row);
        ui.messages.clear();
        form->loadTab->Command14->click();
    }

    LoadMidiTab& load() { return *form->loadTab; }
    ModifyMidiTab& modify() { return *form->modifyTab; }
    fs::path handOffFile() const { return home() / "ModifyExport.mid"; }

    fs::path database;
};

TEST_F(Roads, AMidiFileBecomesARingToneOnTheHandheld)
{
    openAndLoad();
    const Bytes flute = smallSong(73, 74);
    ui.dialogs.answer(writeFile("songs/Flute Song.mid", flute));
    load().Command2->click();
    load().Command7->click();

    RingToneDatabase written = onDisk();
    ASSERT_EQ(written.ringTones().size(), 3u);
    EXPECT_EQ(asString(written.ringTones()[2].name), "Flute Song");
    EXPECT_EQ(written.ringTones()[2].data, withMark(flute));
    EXPECT_TRUE(fs::exists(home() / "MIDI_Ring_Tones.bak"));
    EXPECT_EQ(ui.install.installed, std::vector<fs::path>{database});
    EXPECT_EQ(ui.messages.shown.back().icon, MessageIcon::Information);

    clickRow(2);
    EXPECT_EQ(readFile(home() / "Chimewright.dat"), withMark(flute));
    ui.dialogs.answer(path("exported.mid"));
    load().Command13->click();
    EXPECT_EQ(readFile(path("exported.mid")), withMark(flute));
}

TEST_F(Roads, ARingToneIsModifiedSavedAndLoadedBackIntoTheList)
{
    openAndLoad();
    modifyRow(1);

    // The hand-off file holds the ring tone's data, trailer and all, and the tab opened it.
    EXPECT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("; ").toStdString();
    EXPECT_EQ(readFile(handOffFile()), withMark(smallSong(10, 72)));
    EXPECT_EQ(form->SSTab1->currentIndex(), 1);
    EXPECT_EQ(modify().lblMIDIName->text(), "File: Ring");
    EXPECT_TRUE(modify().Command5Tag.isEmpty());
    EXPECT_TRUE(ui.dialogs.calls.empty());
    const std::vector<std::string> preview = player(modify().MMControl1).commands();
    ASSERT_GE(preview.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(preview.begin(), preview.begin() + 2),
              (std::vector<std::string>{"stop", "close"}));
    EXPECT_EQ(player(load().MMControl2).commands().back(), "stop");

    // One octave up on channel 1, then Apply.
    ChannelTableModel& rows = *modify().channelModel();
    ASSERT_TRUE(rows.setData(rows.index(0, ChannelTableModel::OctaveColumn), 1));
    modify().Command11->click();
    ASSERT_TRUE(ui.messages.shown.empty()) << ui.messages.texts().join("; ").toStdString();
    const fs::path result = home() / "head";
    ASSERT_EQ(form->midiState().ResultFilePath, result.string());
    const Bytes modified = readFile(result);
    EXPECT_TRUE(playsKey(modified, 84));
    EXPECT_FALSE(playsKey(modified, 72));
    EXPECT_TRUE(modify().Command8->isEnabled());
    EXPECT_TRUE(modify().Command17->isEnabled());

    // Save proposes the ring tone's name in the midi folder.
    ui.dialogs.answer(home() / "midi" / "Ring.mid");
    modify().Command8->click();
    ASSERT_EQ(ui.dialogs.calls.size(), 1u);
    EXPECT_EQ(ui.dialogs.calls[0].request.title, "Save MIDI File");
    EXPECT_EQ(ui.dialogs.calls[0].request.fileName,
              QString::fromStdString((home() / "midi" / "Ring.mid").string()));
    EXPECT_EQ(readFile(home() / "midi" / "Ring.mid"), modified);

    // Load MIDI File: the result joins the list under the ring tone's stem.
    modify().Command17->click();
    EXPECT_EQ(form->SSTab1->currentIndex(), 0);
    EXPECT_EQ(column(0), (QStringList{"Morning", "Ring (2)", "Ring"}));
    EXPECT_EQ(column(1).back(), QString::number(modified.size() + 1));
    EXPECT_EQ(column(2).back(), "x");
    EXPECT_TRUE(form->midiState().PendingImportPath.empty());
    EXPECT_EQ(player(modify().MMControl3).commands().back(), "stop");

    load().Command7->click();
    RingToneDatabase written = onDisk();
    ASSERT_EQ(written.ringTones().size(), 3u);
    EXPECT_EQ(asString(written.ringTones()[2].name), "Ring");
    EXPECT_EQ(written.ringTones()[2].data, withMark(modified));

    // Loading the same result again takes the next free name.
    modify().Command17->click();
    EXPECT_EQ(column(0).back(), "Ring (1)");
}

TEST_F(Roads, ModifyMidiNeedsARingToneAndTouchesNothingWithout)
{
    openWindow();
    ui.messages.clear();
    load().Command14_Click();
    EXPECT_EQ(ui.messages.texts(), QStringList{"No MIDI Ring Tones loaded."});
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_FALSE(fs::exists(handOffFile()));
    EXPECT_EQ(form->SSTab1->currentIndex(), 0);

    form.reset();
    openAndLoad();
    load().Command14_Click();
    EXPECT_EQ(ui.messages.texts(), QStringList{"No Ring Tone selected."});
    EXPECT_FALSE(fs::exists(handOffFile()));
    EXPECT_EQ(form->SSTab1->currentIndex(), 0);
}

TEST_F(Roads, BadMarksAreRefusedAndWriteNothing)
{
    openAndLoad();
    modifyRow(0);
    const std::int64_t length = player(modify().MMControl1).length();
    struct Case {
        QString start;
        QString end;
        const char* message;
    };
    for (const Case& bad : {Case{"-5", QString::number(length), kStartMarkBelowZeroMessage},
                            Case{"2000", "1000", kStartMarkPastEndMessage},
                            Case{"0", QString::number(length + 1), kEndMarkPastSongMessage}}) {
        ui.messages.clear();
        modify().txtMarkStartMSec->setText(bad.start);
        modify().txtMarkEndMSec->setText(bad.end);
        modify().Command11->click();
        ASSERT_EQ(ui.messages.shown.size(), 1u) << bad.message;
        EXPECT_EQ(ui.messages.shown[0].text, bad.message);
        EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::Exclamation);
        EXPECT_FALSE(fs::exists(home() / "head"));
        EXPECT_FALSE(modify().Command17->isEnabled());
    }
}

TEST_F(Roads, AResultOver64000BytesIsRefusedByTheListAndTheTabStillSwitches)
{
    openAndLoad();
    ui.dialogs.answer(writeFile("long.mid", test::midiFileOfSize(64500)));
    form->SSTab1->setCurrentIndex(1);
    modify().Command5->click();
    modify().Command11->click();
    ASSERT_GT(readFile(home() / "head").size(), 64000u);

    ui.messages.clear();
    modify().Command17->click();
    EXPECT_EQ(ui.messages.texts(), QStringList{"This MIDI file is larger than 64k and cannot be imported."});
    EXPECT_EQ(form->SSTab1->currentIndex(), 0);
    EXPECT_EQ(list().topLevelItemCount(), 2);
    // The hand-off is one-shot: the next "Add MIDI File" asks for a file.
    EXPECT_TRUE(form->midiState().PendingImportPath.empty());
    ui.dialogs.cancel();
    load().Command2->click();
    EXPECT_EQ(ui.dialogs.calls.back().request.title, "Add MIDI File");
}

TEST_F(Roads, CancelledDialogsChangeNothing)
{
    openAndLoad();
    modifyRow(0);
    modify().Command11->click();
    const std::vector<std::string> before = listFolder(home() / "midi");

    ui.dialogs.cancel();
    modify().Command8->click();
    ui.dialogs.cancel();
    modify().Command5->click();
    EXPECT_EQ(modify().lblMIDIName->text(), "File: Morning");
    EXPECT_EQ(listFolder(home() / "midi"), before);
    EXPECT_TRUE(ui.messages.shown.empty());
    EXPECT_EQ(ui.dialogs.unexpected, 0);
}

} // namespace
} // namespace chwr
