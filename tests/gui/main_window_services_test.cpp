#include "shell/qt_ui_services.h"
#include "tests/gui/scripted_ui.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace chwr {
namespace {

TEST(QtFileFilter, TurnsPipeFiltersIntoQtFilters)
{
    EXPECT_EQ(qtFileFilter("MIDI File (*.mid)|*.mid"), "MIDI File (*.mid *.MID)");
    EXPECT_EQ(qtFileFilter("Palm DB File (*.pdb)|*.pdb"), "Palm DB File (*.pdb *.PDB)");
    EXPECT_EQ(qtFileFilter("Songs|*.mid;*.midi|All|*"), "Songs (*.mid *.MID *.midi *.MIDI);;All (*)");
}

TEST(DialogStartPath, JoinsPresetNameAndFolder)
{
    EXPECT_EQ(dialogStartPath({"t", "f", "/tmp/x", ""}), "/tmp/x");
    EXPECT_EQ(dialogStartPath({"t", "f", "/tmp/x", "a.mid"}), "/tmp/x/a.mid");
    EXPECT_EQ(dialogStartPath({"t", "f", "/tmp/x", "/home/u/b.mid"}), "/home/u/b.mid");
    EXPECT_EQ(dialogStartPath({"t", "f", "", "/home/u/b.mid"}), "/home/u/b.mid");
}

TEST(ScriptedFileDialogs, AnswersInOrderAndCountsUnplannedDialogs)
{
    test::ScriptedFileDialogs dialogs;
    dialogs.answer(QString("/a.mid"));
    dialogs.cancel();
    EXPECT_EQ(dialogs.open(nullptr, {"Open MIDI File", "", "", ""}), QString("/a.mid"));
    EXPECT_EQ(dialogs.save(nullptr, {"Save MIDI File", "", "", ""}), std::nullopt);
    EXPECT_EQ(dialogs.unexpected, 0);
    EXPECT_EQ(dialogs.open(nullptr, {"Add MIDI File", "", "", ""}), std::nullopt);
    EXPECT_EQ(dialogs.unexpected, 1);
    ASSERT_EQ(dialogs.calls.size(), 3u);
    EXPECT_EQ(dialogs.calls[1].kind, test::DialogKind::Save);
    EXPECT_EQ(dialogs.calls[2].request.title, "Add MIDI File");
}

TEST(GuiTestMain, RunsUnderAnOffscreenApplication)
{
    ASSERT_NE(QApplication::instance(), nullptr);
    EXPECT_EQ(QApplication::platformName(), "offscreen");
}

} // namespace
} // namespace chwr
