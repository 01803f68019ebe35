#include "midi_edit/tempo_map.h"

#include "midi_edit/smf_format.h"

#include <algorithm>
#include <cmath>

namespace chwr {

namespace {

constexpr int kFallbackTicksPerQuarter = 480;
constexpr std::uint64_t kWholeMicrosPerMillisecond = 1000;
constexpr long double kMicrosPerMillisecond = kWholeMicrosPerMillisecond;
constexpr long double kExactIntegerLimit = 9.2e18L;

}  // namespace

TempoMap::TempoMap() : TempoMap(kFallbackTicksPerQuarter, {}) {}

TempoMap::TempoMap(int ticksPerQuarter, std::vector<TempoChange> changesInFileOrder)
    : m_ticksPerQuarter(ticksPerQuarter > 0 ? ticksPerQuarter : kFallbackTicksPerQuarter)
{
    // A stable sort keeps file order among changes at one tick; the last of them wins.
    std::stable_sort(changesInFileOrder.begin(), changesInFileOrder.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    for (const TempoChange& change : changesInFileOrder) {
        if (!m_changes.empty() && m_changes.back().tick == change.tick)
            m_changes.back() = change;
        else
            m_changes.push_back(change);
    }

    m_segments.push_back(Segment{0, smf::kDefaultMicrosPerQuarter, 0.0L, 0.0});
    for (const TempoChange& change : m_changes) {
        Segment& last = m_segments.back();
        if (change.tick <= last.tick) {
            last.microsPerQuarter = change.microsPerQuarter;
            continue;
        }
        long double elapsed = static_cast<long double>(change.tick - last.tick) * last.microsPerQuarter;
        long double scaled = last.scaledMicros + elapsed;
        m_segments.push_back(Segment{change.tick, change.microsPerQuarter, scaled,
                                     static_cast<double>(scaled / m_ticksPerQuarter / kMicrosPerMillisecond)});
    }
}

const TempoMap::Segment& TempoMap::segmentAtTick(double tick) const
{
    auto after = std::upper_bound(m_segments.begin(), m_segments.end(), tick,
                                  [](double t, const Segment& s) { return t < static_cast<double>(s.tick); });
    return after == m_segments.begin() ? m_segments.front() : *(after - 1);
}

double TempoMap::millisecondsAt(double tick) const
{
    if (tick <= 0)
        return 0.0;
    const Segment& segment = segmentAtTick(tick);
    long double scaled = segment.scaledMicros +
                         (static_cast<long double>(tick) - segment.tick) * segment.microsPerQuarter;
    return static_cast<double>(scaled / m_ticksPerQuarter / kMicrosPerMillisecond);
}

double TempoMap::tickAt(double milliseconds) const
{
    if (milliseconds <= 0)
        return 0.0;
    auto after = std::upper_bound(m_segments.begin(), m_segments.end(), milliseconds,
                                  [](double ms, const Segment& segment) { return ms < segment.milliseconds; });
    // The last segment that starts at or before the time; with stretches of tempo 0 several
    // segments start at one time, and the last of them is where the song goes on.
    const Segment& segment = after == m_segments.begin() ? m_segments.front() : *(after - 1);
    if (segment.microsPerQuarter == 0)
        return static_cast<double>(segment.tick);
    // ticks = milliseconds x ticks per quarter / (microseconds per quarter / 1000), from the
    // segment's start; with one tempo this is that formula to the last bit.
    double microsPerQuarterPerMilli = segment.microsPerQuarter / static_cast<double>(kWholeMicrosPerMillisecond);
    return static_cast<double>(segment.tick) +
           (milliseconds - segment.milliseconds) * m_ticksPerQuarter / microsPerQuarterPerMilli;
}

std::int64_t TempoMap::lengthMilliseconds(std::int64_t lengthTicks) const
{
    if (lengthTicks <= 0)
        return 0;
    const Segment& segment = segmentAtTick(static_cast<double>(lengthTicks));
    long double scaled =
        segment.scaledMicros + static_cast<long double>(lengthTicks - segment.tick) * segment.microsPerQuarter;
    // Whole numbers up to 2^63 are exact here, so the rounding up is done on integers.
    auto perMillisecond = static_cast<std::uint64_t>(m_ticksPerQuarter) * kWholeMicrosPerMillisecond;
    if (scaled < kExactIntegerLimit) {
        auto whole = static_cast<std::uint64_t>(scaled);
        return static_cast<std::int64_t>((whole + perMillisecond - 1) / perMillisecond);
    }
    return static_cast<std::int64_t>(std::ceil(scaled / perMillisecond));
}

}  // namespace chwr
