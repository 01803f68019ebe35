#pragma once

#include <cstdint>
#include <vector>

namespace chwr {

// One Set Tempo event: from this tick on, a quarter note lasts microsPerQuarter.
struct TempoChange {
    std::int64_t tick = 0;
    std::uint32_t microsPerQuarter = 0;
};

// The song's tempo over its ticks: every Set Tempo event of every track, merged by
// tick. Before the first change the Standard MIDI File default of 500000 microseconds
// per quarter note holds; of several changes at one tick the last in file order holds.
// Converts ticks to milliseconds and back; a value type, cheap to copy.
class TempoMap {
public:
    // 480 ticks per quarter note and no tempo change: for default-constructed holders.
    TempoMap();
    // changes in file order (track by track, event by event); ticksPerQuarter > 0.
    TempoMap(int ticksPerQuarter, std::vector<TempoChange> changesInFileOrder);

    int ticksPerQuarter() const { return m_ticksPerQuarter; }
    // The merged changes, by tick, one per tick.
    const std::vector<TempoChange>& changes() const { return m_changes; }

    // The time of a tick (>= 0) in milliseconds from the start of the song.
    double millisecondsAt(double tick) const;
    // The tick that sounds at a time in milliseconds; 0 for times at or before 0.
    // Inside a stretch of tempo 0 (no time passes) the stretch's first tick.
    double tickAt(double milliseconds) const;
    // The length of a song whose last tick is lengthTicks, in whole milliseconds,
    // rounded up.
    std::int64_t lengthMilliseconds(std::int64_t lengthTicks) const;

private:
    struct Segment {
        std::int64_t tick;
        std::uint32_t microsPerQuarter;
        // Time at the segment's start, in microseconds times ticksPerQuarter (exact
        // for any song a handheld could play).
        long double scaledMicros;
        // The same time in milliseconds.
        double milliseconds;
    };
    const Segment& segmentAtTick(double tick) const;

    int m_ticksPerQuarter;
    std::vector<TempoChange> m_changes;
    std::vector<Segment> m_segments;
};

}  // namespace chwr
