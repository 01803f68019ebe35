#pragma once

#include "midi_edit/midi_player.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace chwr::test {

// A player that plays nothing: it records every call, opens any file, and lets the
// test set the length and position and raise the status update when it likes.
//
// The call log reads like the code that made the calls:
//   "DeviceType=Sequencer", "FileName=/x/head", "Open", "From=1500", "Play", "Stop",
//   "TimeFormat=0", "UpdateInterval=100", "Enabled=0".
class ScriptedPlayer : public MidiPlayer {
public:
    void setDeviceType(std::string type) override { m_calls.push_back("DeviceType=" + type); }
    void setFileName(std::filesystem::path file) override
    {
        m_calls.push_back("FileName=" + file.string());
        m_fileName = std::move(file);
    }
    const std::filesystem::path& fileName() const override { return m_fileName; }

    // Commands keep the case they were sent in, in the log; they act in any case.
    // "Open" fails with the next scripted failure when there is one.
    Result<void> command(std::string_view name) override;

    void setFrom(std::int64_t milliseconds) override;
    std::int64_t length() const override { return m_open ? m_length : 0; }
    std::int64_t position() const override { return m_open ? m_position : 0; }
    bool isOpen() const override { return m_open; }
    bool isPlaying() const override { return m_playing; }

    void setTimeFormat(int format) override { m_calls.push_back("TimeFormat=" + std::to_string(format)); }
    void setUpdateInterval(int milliseconds) override
    {
        m_calls.push_back("UpdateInterval=" + std::to_string(milliseconds));
        m_updateInterval = milliseconds;
    }
    int updateInterval() const override { return m_updateInterval; }
    void setEnabled(bool enabled) override
    {
        m_calls.push_back(std::string("Enabled=") + (enabled ? "1" : "0"));
        m_enabled = enabled;
    }
    bool enabled() const override { return m_enabled; }

    void setStatusUpdateHandler(std::function<void()> handler) override { m_handler = std::move(handler); }
    // Counts the polls; status updates come only from raiseStatusUpdate().
    void poll() override { ++m_polls; }

    // The length the next "Open" gives (and the open file's, at once).
    void setLength(std::int64_t milliseconds) { m_length = milliseconds; }
    // Moves the position, as time passing would (a play reaching the end stops).
    void setPosition(std::int64_t milliseconds);
    // The next "Open" fails with this message (queued, one per "Open").
    void failNextOpen(std::string message) { m_openFailures.push_back(std::move(message)); }
    // Calls the status update handler, as the update interval passing would.
    void raiseStatusUpdate()
    {
        if (auto handler = m_handler)
            handler();
    }

    const std::vector<std::string>& calls() const { return m_calls; }
    // Only the commands, in the order sent.
    std::vector<std::string> commands() const;
    void clearCalls() { m_calls.clear(); }
    int polls() const { return m_polls; }

private:
    std::vector<std::string> m_calls;
    std::filesystem::path m_fileName;
    std::deque<std::string> m_openFailures;
    std::function<void()> m_handler;
    bool m_open = false;
    bool m_playing = false;
    bool m_enabled = true;
    int m_updateInterval = 0;
    int m_polls = 0;
    std::int64_t m_length = 10000;
    std::int64_t m_position = 0;
};

} // namespace chwr::test
