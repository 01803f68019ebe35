#pragma once

#include "midi_edit/midi_edit_state.h"

#include <QObject>

#include <filesystem>

class QLineEdit;
class QPushButton;
class QScrollBar;

namespace chwr {

class ChannelTableModel;
class MMControl;
class SongView;

// Joins the song view to the "Modify MIDI" tab: the mark fields move the mark lines and a
// dragged line writes its field; the preview player moves the play line and a click on the
// view moves the player as "Goto" does; the channel rows shift and fade the notes; the
// result player moves the result's play line.
class SongViewLink : public QObject {
    Q_OBJECT
public:
    struct Parts {
        SongView* view = nullptr;
        QLineEdit* startMark = nullptr;
        QLineEdit* endMark = nullptr;
        MMControl* preview = nullptr;
        MMControl* result = nullptr;
        ChannelTableModel* rows = nullptr;
        // What else moves the preview player: "Goto Start", "Goto End" and the slider.
        QPushButton* gotoStart = nullptr;
        QPushButton* gotoEnd = nullptr;
        QScrollBar* slider = nullptr;
    };

    SongViewLink(const Parts& parts, const MidiEditState& state, QObject* parent = nullptr);

    // A file was opened: the view shows it (nothing, when it cannot be read again).
    void sourceOpened(const std::filesystem::path& file);
    // "Apply" finished with this result file, or left none (an empty path).
    void resultWritten(const std::filesystem::path& file);

private:
    void showAdjustments();
    void gotoPosition(qint64 milliseconds);

    Parts m_parts;
    const MidiEditState& m_state;
};

} // namespace chwr
