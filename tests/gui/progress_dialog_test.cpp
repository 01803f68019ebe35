#include "midi_edit/ui/progress_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace chwr {
namespace {

TEST(ProgressDialog, StartsWithItsCaptionAndAnEmptyBar)
{
    Dialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Processing");
    EXPECT_EQ(dialog.Label1->text(), "Applying changes to MIDI File...");
    EXPECT_EQ(dialog.ProgressBar1->minimum(), 0);
    EXPECT_EQ(dialog.ProgressBar1->maximum(), 100);
    EXPECT_EQ(dialog.CancelButton->text(), "Cancel");
    EXPECT_FALSE(dialog.isModal());

    dialog.showProgress(3, 42);
    EXPECT_EQ(dialog.Label1->text(), "Processing Track 3 ...");
    EXPECT_EQ(dialog.ProgressBar1->value(), 42);
}

TEST(ProgressDialog, CancelHidesTheWindowAndAsksTheRunToStop)
{
    Dialog dialog;
    QSignalSpy cancelled(&dialog, &Dialog::cancelRequested);
    dialog.show();
    ASSERT_TRUE(dialog.isVisible());

    QTest::mouseClick(dialog.CancelButton, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(cancelled.count(), 1);
}

TEST(ProgressDialog, ClosingTheWindowOrEscapeAlsoCancels)
{
    Dialog dialog;
    QSignalSpy cancelled(&dialog, &Dialog::cancelRequested);
    dialog.show();
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(cancelled.count(), 1);

    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(cancelled.count(), 2);
}

}  // namespace
}  // namespace chwr
