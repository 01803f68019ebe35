#pragma once

#include "midi_edit/midi_player.h"
#include "shell/result.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace chwr {

// A small transport control over one MidiPlayer, as the window's three players use it:
// Prev, Play and Stop buttons and a position readout. It forwards the player
// operations and raises the player's status update as the StatusUpdate() signal.
//
// While a file is open a timer polls the player at its update interval, so status
// updates arrive on the window's thread.
class MMControl : public QWidget {
    Q_OBJECT
public:
    // The update interval a player gets when it has none: the multimedia control's own
    // default, one second.
    static constexpr int kDefaultUpdateIntervalMs = 1000;

    explicit MMControl(std::unique_ptr<MidiPlayer> player, QWidget* parent = nullptr);
    ~MMControl() override;

    MidiPlayer& player() { return *m_player; }
    const MidiPlayer& player() const { return *m_player; }

    void setDeviceType(const QString& type);
    void setFileName(const std::filesystem::path& file);
    std::filesystem::path fileName() const;
    // "Open", "Close", "Play", "Stop" or "Prev" in any case. The failure of "Open"
    // is returned so that a caller that needs a playable file can report it.
    Result<void> command(const QString& name);
    void setFrom(std::int64_t milliseconds);
    std::int64_t length() const;
    std::int64_t position() const;
    void setTimeFormat(int format);
    void setUpdateInterval(int milliseconds);
    int updateInterval() const;

    QPushButton* PrevButton = nullptr;
    QPushButton* PlayButton = nullptr;
    QPushButton* StopButton = nullptr;
    QLabel* positionLabel = nullptr;

    // "m:ss.s / m:ss.s", position over length.
    static QString formatReadout(std::int64_t position, std::int64_t length);

public slots:
    // One timer tick: polls the player (which may raise its status update) and
    // refreshes the readout. Tests call it instead of waiting for the timer.
    void tick();

signals:
    void StatusUpdate();

protected:
    // Enabling or disabling the control enables or disables its player too.
    void changeEvent(QEvent* event) override;

private:
    void runButtonCommand(const char* name);
    void refresh();
    void syncTimer();

    std::unique_ptr<MidiPlayer> m_player;
    QTimer* m_timer = nullptr;
};

}  // namespace chwr
