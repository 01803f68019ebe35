#include "midi_edit/tempo_map.h"

#include <gtest/gtest.h>

namespace chwr {
namespace {

TEST(TempoMapTest, WithoutTempoChangesAQuarterNoteLastsHalfASecond)
{
    TempoMap map(480, {});
    EXPECT_DOUBLE_EQ(map.millisecondsAt(960), 1000.0);
    EXPECT_DOUBLE_EQ(map.tickAt(250), 240.0);
    EXPECT_EQ(map.lengthMilliseconds(1920), 2000);
}

TEST(TempoMapTest, LengthIsRoundedUpToAWholeMillisecond)
{
    TempoMap map(480, {});
    // 481 ticks last 501.04 ms.
    EXPECT_EQ(map.lengthMilliseconds(481), 502);
    EXPECT_EQ(map.lengthMilliseconds(0), 0);
    // A length that lands exactly on a millisecond is not raised.
    EXPECT_EQ(TempoMap(96, {{0, 600000}}).lengthMilliseconds(96 * 5), 3000);
}

TEST(TempoMapTest, ChangesOfSeveralTracksAreMergedByTick)
{
    // Track 1 changes at tick 960, track 2 (later in the file) at tick 480.
    TempoMap map(480, {{960, 1000000}, {480, 250000}});
    ASSERT_EQ(map.changes().size(), 2u);
    EXPECT_EQ(map.changes()[0].tick, 480);
    EXPECT_EQ(map.changes()[1].tick, 960);
    // 480 ticks at 0.5 s, 480 at 0.25 s, then 480 at 1 s.
    EXPECT_DOUBLE_EQ(map.millisecondsAt(480), 500.0);
    EXPECT_DOUBLE_EQ(map.millisecondsAt(960), 750.0);
    EXPECT_DOUBLE_EQ(map.millisecondsAt(1440), 1750.0);
    EXPECT_EQ(map.lengthMilliseconds(1440), 1750);
    EXPECT_DOUBLE_EQ(map.tickAt(625), 720.0);
    EXPECT_DOUBLE_EQ(map.tickAt(1250), 1200.0);
}

TEST(TempoMapTest, OfSeveralChangesAtOneTickTheLastInFileOrderHolds)
{
    TempoMap map(480, {{0, 1000000}, {0, 250000}, {480, 500000}, {480, 1000000}});
    ASSERT_EQ(map.changes().size(), 2u);
    EXPECT_EQ(map.changes()[0].microsPerQuarter, 250000u);
    EXPECT_EQ(map.changes()[1].microsPerQuarter, 1000000u);
    EXPECT_DOUBLE_EQ(map.millisecondsAt(480), 250.0);
    EXPECT_DOUBLE_EQ(map.millisecondsAt(960), 1250.0);
}

TEST(TempoMapTest, WithOneTempoTickAtIsTheFormulaOfTheMarks)
{
    // tick = ms x ticks per quarter / (microseconds per quarter / 1000), to the last bit.
    for (int division : {96, 480, 502, 960}) {
        for (std::uint32_t tempo : {500000u, 428571u, 1000000u}) {
            TempoMap map(division, {{0, tempo}});
            for (double ms : {1.0, 100.0, 1234.0, 29999.0}) {
                double formula = ms * division / (tempo / 1000.0);
                EXPECT_EQ(map.tickAt(ms), formula) << division << " " << tempo << " " << ms;
            }
        }
    }
}

TEST(TempoMapTest, ATempoOfZeroStopsTheClock)
{
    // From tick 480 to 960 no time passes; after it, 1 s per quarter note.
    TempoMap map(480, {{480, 0}, {960, 1000000}});
    EXPECT_DOUBLE_EQ(map.millisecondsAt(960), 500.0);
    EXPECT_DOUBLE_EQ(map.millisecondsAt(1440), 1500.0);
    EXPECT_DOUBLE_EQ(map.tickAt(500), 960.0);
    EXPECT_DOUBLE_EQ(map.tickAt(1000), 1200.0);
    TempoMap frozen(480, {{480, 0}});
    EXPECT_DOUBLE_EQ(frozen.tickAt(800), 480.0);
    EXPECT_EQ(frozen.lengthMilliseconds(5000), 500);
}

}  // namespace
}  // namespace chwr
