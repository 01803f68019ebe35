#pragma once

#include "shell/result.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace chwr {

// A MIDI file player with the operations of a multimedia sequencer control: the
// window's three players (MMControl1-3) and `chwr play` drive one each. Times are
// whole milliseconds through the song's tempo map.
//
// The player raises its status update from poll(): the owner calls poll() at the
// update interval on its own thread (a QTimer in the window, a sleep loop in the
// command-line tool), so the handler always runs on that thread.
class MidiPlayer {
public:
    virtual ~MidiPlayer() = default;

    // "Sequencer" is the only device type there is; it is kept for callers that set it.
    virtual void setDeviceType(std::string type) = 0;
    virtual void setFileName(std::filesystem::path file) = 0;
    virtual const std::filesystem::path& fileName() const = 0;

    // "Open", "Close", "Play", "Stop" or "Prev", in any case. "Open" of a file that
    // cannot be played fails with a message and leaves the player closed; "Close"
    // releases the file so it may be deleted or rewritten; "Prev" returns to the start.
    virtual Result<void> command(std::string_view name) = 0;

    // "Play" starts here; also moves a stopped player.
    virtual void setFrom(std::int64_t milliseconds) = 0;
    virtual std::int64_t length() const = 0;    // 0 while closed
    virtual std::int64_t position() const = 0;  // 0 to length()
    virtual bool isOpen() const = 0;
    virtual bool isPlaying() const = 0;

    // Only milliseconds (0) are supported.
    virtual void setTimeFormat(int format) = 0;
    virtual void setUpdateInterval(int milliseconds) = 0;
    virtual int updateInterval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;

    // The status update handler, raised by poll() when the update interval has passed
    // since the last raise (and at once on the first poll after a play starts).
    virtual void setStatusUpdateHandler(std::function<void()> handler) = 0;
    virtual void poll() = 0;
};

}  // namespace chwr
