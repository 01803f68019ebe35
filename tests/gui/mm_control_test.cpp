#include "midi_edit/ui/mm_control.h"
#include "tests/support/scripted_player.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace chwr {
namespace {

using Calls = std::vector<std::string>;

class MMControlTest : public ::testing::Test {
protected:
    MMControlTest()
    {
        auto owned = std::make_unique<test::ScriptedPlayer>();
        player = owned.get();
        control = std::make_unique<MMControl>(std::move(owned));
    }

    QTimer* timer() const { return control->findChild<QTimer*>(); }

    test::ScriptedPlayer* player = nullptr;
    std::unique_ptr<MMControl> control;
};

TEST_F(MMControlTest, ForwardsTheSequencerOperationsToItsPlayer)
{
    EXPECT_EQ(&control->player(), player);
    player->clearCalls();
    control->setDeviceType("Sequencer");
    control->setFileName("/songs/a.mid");
    ASSERT_TRUE(control->command("Open").ok());
    control->setUpdateInterval(100);
    control->setTimeFormat(0);
    control->setFrom(1500);
    ASSERT_TRUE(control->command("Play").ok());
    ASSERT_TRUE(control->command("stop").ok());
    EXPECT_EQ(player->calls(), (Calls{"DeviceType=Sequencer", "FileName=/songs/a.mid", "Open", "UpdateInterval=100",
                                      "TimeFormat=0", "From=1500", "Play", "stop"}));
    EXPECT_EQ(control->fileName(), "/songs/a.mid");
    EXPECT_EQ(control->position(), 1500);
    EXPECT_EQ(control->length(), 10000);
}

TEST_F(MMControlTest, ReturnsAFailedOpenSoCallersCanReportIt)
{
    player->failNextOpen("The file is no Standard MIDI File.");
    Result<void> opened = control->command("Open");
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), "The file is no Standard MIDI File.");
    EXPECT_FALSE(control->PlayButton->isEnabled());
}

TEST_F(MMControlTest, ItsButtonsDriveThePlayerAndFollowItsState)
{
    EXPECT_FALSE(control->PrevButton->isEnabled());
    EXPECT_FALSE(control->PlayButton->isEnabled());
    EXPECT_FALSE(control->StopButton->isEnabled());

    ASSERT_TRUE(control->command("Open").ok());
    EXPECT_TRUE(control->PlayButton->isEnabled());
    EXPECT_FALSE(control->StopButton->isEnabled());

    player->clearCalls();
    control->PlayButton->click();
    EXPECT_TRUE(player->isPlaying());
    EXPECT_FALSE(control->PlayButton->isEnabled());
    EXPECT_TRUE(control->StopButton->isEnabled());
    control->StopButton->click();
    EXPECT_FALSE(player->isPlaying());
    player->setPosition(4000);
    control->PrevButton->click();
    EXPECT_EQ(player->position(), 0);
    EXPECT_EQ(player->commands(), (Calls{"Play", "Stop", "Prev"}));
}

TEST_F(MMControlTest, ShowsPositionAndLengthInItsReadout)
{
    EXPECT_EQ(MMControl::formatReadout(7500, 30000), "0:07.5 / 0:30.0");
    EXPECT_EQ(MMControl::formatReadout(0, 754321), "0:00.0 / 12:34.3");

    player->setLength(30000);
    ASSERT_TRUE(control->command("Open").ok());
    player->setPosition(7500);
    control->tick();
    EXPECT_EQ(control->positionLabel->text(), "0:07.5 / 0:30.0");
}

TEST_F(MMControlTest, RaisesThePlayersStatusUpdateAsASignal)
{
    QSignalSpy updates(control.get(), &MMControl::StatusUpdate);
    player->raiseStatusUpdate();
    player->raiseStatusUpdate();
    EXPECT_EQ(updates.count(), 2);
}

TEST_F(MMControlTest, PollsThePlayerAtItsUpdateIntervalOnlyWhileAFileIsOpen)
{
    // A player without an interval gets the multimedia control's default.
    EXPECT_EQ(control->updateInterval(), MMControl::kDefaultUpdateIntervalMs);
    ASSERT_NE(timer(), nullptr);
    EXPECT_FALSE(timer()->isActive());

    ASSERT_TRUE(control->command("Open").ok());
    control->setUpdateInterval(100);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 100);

    const int before = player->polls();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->polls() > before; }, 5000));

    ASSERT_TRUE(control->command("Close").ok());
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(MMControlTest, DisablingTheControlDisablesItsPlayer)
{
    ASSERT_TRUE(control->command("Open").ok());
    player->clearCalls();
    control->setEnabled(false);
    EXPECT_FALSE(player->enabled());
    control->setEnabled(true);
    EXPECT_TRUE(player->enabled());
    EXPECT_EQ(player->calls(), (Calls{"Enabled=0", "Enabled=1"}));
}

}  // namespace
}  // namespace chwr
