#include "shell/ui/qt_ui_services.h"
#include "tests/gui/scripted_ui.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

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

// The real message box and file dialog, answered as soon as they are on screen.
template <typename Dialog, typename Answer> void whenShown(Answer answer)
{
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

TEST(QtMessageBoxes, CarryTheProgramsTitleAndTheIconAskedFor)
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenShown<QMessageBox>([&](QMessageBox& box) {
        title = box.windowTitle();
        text = box.text();
        icon = box.icon();
        box.accept();
    });
    QtMessageBoxes().show(nullptr, "No Ring Tone selected.", MessageIcon::Exclamation);
    EXPECT_EQ(title, "Chimewright Vuruva");
    EXPECT_EQ(text, "No Ring Tone selected.");
    EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST(QtFileDialogs, ShowTheTitleAndFilterAndReportACancel)
{
    QString title;
    QStringList filters;
    whenShown<QFileDialog>([&](QFileDialog& dialog) {
        title = dialog.windowTitle();
        filters = dialog.nameFilters();
        dialog.reject();
    });
    const std::optional<QString> chosen =
        QtFileDialogs().open(nullptr, {"Add MIDI File", "MIDI File (*.mid)|*.mid", QDir::tempPath(), ""});
    EXPECT_EQ(chosen, std::nullopt);
    EXPECT_EQ(title, "Add MIDI File");
    EXPECT_EQ(filters, QStringList{"MIDI File (*.mid *.MID)"});
}

TEST(GuiTestMain, RunsUnderAnOffscreenApplication)
{
    ASSERT_NE(QApplication::instance(), nullptr);
    EXPECT_EQ(QApplication::platformName(), "offscreen");
}

} // namespace
} // namespace chwr
