#pragma once

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_edit_state.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"
#include "shell/ui/window_services.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace chwr {

class ChannelTableModel;
class DataRepeater;
class Dialog;
class MMControl;
class SongView;
class SongViewLink;

// The text of Command5's tag that makes "Open File" open the list's hand-off file.
inline constexpr const char* kModifyExportTag = "ModifyExport";

// The "Modify MIDI" tab: opens a MIDI file (chosen, or handed over by the ring tone
// list), shows one row editor per channel, lets the user find crop marks by playing
// the song, rewrites it with "Apply" under a progress window, and saves the result or
// hands it to the list.
//
// The long actions (open, Apply) let the window process its events at a steady
// interval; while one runs, the buttons that would start another are disabled.
class ModifyMidiTab : public QWidget {
    Q_OBJECT
public:
    // The ring tone database the list was loaded from, which "Save MIDI File" never
    // writes over; the window sets it.
    void setDatabaseToKeep(std::function<std::filesystem::path()> database)
    {
        m_databaseToKeep = std::move(database);
    }
    ModifyMidiTab(WindowServices& services, MidiEditState& state, QWidget* parent = nullptr);
    ~ModifyMidiTab() override;

    // Properties frame.
    QGroupBox* fraProperties = nullptr;
    QLabel* lblMIDIName = nullptr;
    QLabel* lblMIDISize = nullptr;
    QLabel* lblMIDITracks = nullptr;
    // The opened file's size and the latest result's, each against the handheld's limit
    // for a ring tone ("61,204 bytes: fits", "92,881 bytes: 28,881 over").
    QLabel* lblSourceFit = nullptr;
    QLabel* lblResultFit = nullptr;

    QPushButton* Command5 = nullptr; // "Open File"
    QString Command5Tag;             // kModifyExportTag selects the hand-off mode
    DataRepeater* DataRepeater1 = nullptr;
    // The song's notes over time, with the crop marks and the play position.
    SongView* songView = nullptr;

    // Crop frame.
    QGroupBox* fraCrop = nullptr;
    QLineEdit* txtMarkStartMSec = nullptr;
    QLineEdit* txtMarkEndMSec = nullptr;
    QLineEdit* txtCurrentMSec = nullptr;
    QLineEdit* txtCurrentTicks = nullptr;
    QLineEdit* txtMaxMSec = nullptr;
    QLineEdit* txtMaxTicks = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Command9 = nullptr;  // "Mark Start"
    QPushButton* Command10 = nullptr; // "Mark End"
    QPushButton* cmdFitEnd = nullptr; // "Fit End": the latest end mark whose result fits
    QPushButton* Command15 = nullptr; // "Goto Start"
    QPushButton* Command16 = nullptr; // "Goto End"
    QScrollBar* HScroll1 = nullptr;
    MMControl* MMControl1 = nullptr; // preview of the opened file

    QPushButton* Command11 = nullptr; // "Apply"
    QCheckBox* chkCompact = nullptr;  // "Compact (same sound)": Apply compacts its result
    MMControl* MMControl3 = nullptr;  // the rewrite result
    QPushButton* Command8 = nullptr;  // "Save MIDI File"
    QPushButton* Command17 = nullptr; // "Load MIDI File"

    // The progress window of "Apply" (object name "Dialog"); the main window closes it
    // when it closes, which cancels a run that is going.
    Dialog* progressDialog = nullptr;

    ChannelTableModel* channelModel() { return m_model; }
    // What the last successful open found, if any file was opened.
    const std::optional<MidiFileSummary>& openedSummary() const { return m_summary; }
    bool isBusy() const { return m_busy; }

    // The interval at which the long actions let the window process its events.
    static constexpr int kBreathIntervalMs = 50;
    // The preview player's update interval.
    static constexpr int kPreviewUpdateIntervalMs = 100;

    // Opens a MIDI file as "Open File" does with a chosen one; false when it was refused
    // (after the message that says why).
    bool openMidiFile(const std::filesystem::path& path);
    // Opens the file, then fits the end mark as "Fit End" does.
    void openMidiFileFitted(const std::filesystem::path& path);

    // A size against the ring tone limit: "61,204 bytes: fits", "92,881 bytes: 28,881 over".
    static QString fitText(std::uint64_t bytes);

    // The position report's conversions: ticks as a straight proportion over the song,
    // shown rounded, without leading zeros and empty for 0; the slider as a percentage,
    // halves to the even neighbour.
    static QString ticksText(std::int64_t position, double maxTicks, double maxMilliseconds);
    static int sliderPercent(std::int64_t position, std::int64_t length);
    // Where a slider value moves the player: length × value ÷ 100, halves to even.
    static std::int64_t sliderTarget(std::int64_t length, int value);

public slots:
    void Command5_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command15_Click();
    void Command16_Click();
    void Command17_Click();
    void cmdFitEnd_Click();
    void HScroll1_Scroll();
    void MMControl1_StatusUpdate();
    void MMControl3_StatusUpdate();

signals:
    // "Load MIDI File": the window adds the result to the ring tone list.
    void loadMidiFileRequested();
    // "Apply" starts (true) and ends (false): the window disables "Load Current Ring
    // Tones" for the run.
    void rewriteRunning(bool running);

protected:
    // A dropped .mid, .midi or .rmi file is opened.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    // The open itself; displayName is what "File: " shows, shownName what a message calls
    // the file (the ring tone's name for the list's hand-off).
    bool openPath(std::filesystem::path path, const std::string& displayName, const std::string& shownName);
    // Tab goes through the controls as they are laid out, the rows' fields among them.
    void updateTabOrder();
    // A message as the user sees it: the program's working files are called by what they
    // hold, never by their paths; sourceName is what the opened file goes by.
    QString shownMessage(const std::string& message, const std::string& sourceName) const;
    // The channel table, opened on first need; nothing after the message that says why.
    ChannelTable* table();
    void showRows();
    void restorePreview();
    void gotoMark(QLineEdit* field);
    std::optional<double> markValue(QLineEdit* field, const char* markName);
    void setBusy(bool busy);
    void showError(const std::string& message, MessageIcon icon = MessageIcon::None);

    WindowServices& m_services;
    MidiEditState& m_state;
    std::optional<ChannelTable> m_table;
    ChannelTableModel* m_model = nullptr;
    SongViewLink* m_songLink = nullptr;
    MidiRewriter m_rewriter;
    std::optional<MidiFileSummary> m_summary;
    bool m_busy = false;
    bool m_opened = false;
    bool m_hasResult = false;
    // What messages call the opened file when its path is one of the program's own.
    std::string m_sourceShownName;
    std::function<std::filesystem::path()> m_databaseToKeep;
};

} // namespace chwr
