#pragma once

#include "midi_edit/midi_edit_state.h"
#include "ringtone_db/ring_tone_database.h"
#include "ringtone_db/ring_tone_files.h"
#include "shell/result.h"
#include "shell/ui/window_services.h"

#include <QWidget>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>

class QPushButton;
class QTreeWidget;

namespace chwr {

class MMControl;

// Where "Load" reads the ring tone database and "Update" writes it and its backup, as
// the Setup tab's Database Location says.
struct DatabasePaths {
    std::filesystem::path database;
    std::filesystem::path backup;
};
using DatabasePathResolver = std::function<Result<DatabasePaths>()>;

// The preview file that the ring tone player plays, in the program's folder.
inline constexpr const char* kPreviewFileName = "Chimewright.dat";
// The file "Modify MIDI" hands to the "Modify MIDI" tab, in the program's folder.
inline constexpr const char* kModifyExportFileName = "ModifyExport.mid";
inline constexpr const char* kNoRingToneSelectedMessage = "No Ring Tone selected.";
// Sample texts whose width sets the width of the list's three columns.
inline constexpr const char* kNameColumnSample = "12345678901234567890";
inline constexpr const char* kSizeColumnSample = "1,000,000";
inline constexpr const char* kAddedColumnSample = "x";

// The "Load MIDI" tab: the ring tone list of the loaded database with its load, add,
// update, preview, export and "Modify MIDI" actions. The rows always mirror the
// database's ring tones, row i showing ring tone i.
class LoadMidiTab : public QWidget {
    Q_OBJECT
public:
    LoadMidiTab(WindowServices& services, RingToneDatabase& database, MidiEditState& state,
                DatabasePathResolver resolvePaths, QWidget* parent = nullptr);

    QTreeWidget* ListView1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command13 = nullptr;
    QPushButton* Command14 = nullptr;
    MMControl* MMControl2 = nullptr;

    // The selected row (from 0), or nothing.
    std::optional<std::size_t> selectedRow() const;
    // The row's name as shown.
    QString rowName(std::size_t row) const;
    // The width of a list column for its sample text in the list's font.
    int columnWidthFor(const QString& sample) const;

    // Adds a MIDI file as a ring tone: the file the user picks, or the pending hand-off
    // of MidiEditState (PendingImportPath with PendingImportName), which is always
    // cleared when the routine ends.
    void AddMidiFile();
    // Writes the ring tone's MIDI data to ModifyExport.mid in the program's folder.
    Result<std::filesystem::path> writeModifyExport(std::size_t row);
    // While the "Modify MIDI" tab rewrites a file, "Modify MIDI" hands nothing over.
    void setHandOffBlocked(bool blocked) { m_handOffBlocked = blocked; }
    // Where the list was loaded from: "Update" writes there and nowhere else, whatever
    // the Setup tab says by then. Nothing while no database is loaded.
    const std::optional<DatabasePaths>& loadedPaths() const { return m_loadedPaths; }

public slots:
    void Command1_Click();
    void Command2_Click();
    void Command7_Click();
    void Command13_Click();
    void Command14_Click();
    void ListView1_Click();
    void MMControl2_StatusUpdate();
    void PreviewRingTone();
    void ExportRingTone();

signals:
    // "Modify MIDI" passed its checks for this row; the window does the hand-off.
    void modifyMidiRequested(std::size_t row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The row for a list click or a button that needs one, or nothing after the
    // message that says why not (and nothing while the list fills).
    std::optional<std::size_t> rowForAction();
    void showRows();
    void appendRow(std::size_t index);
    void refuse(const QString& message);
    // Empties the list, the loaded database and the ring tone player, so that nothing
    // stale can be played, exported or written.
    void unload();

    WindowServices& m_services;
    RingToneDatabase& m_database;
    MidiEditState& m_state;
    DatabasePathResolver m_resolvePaths;
    std::optional<DatabasePaths> m_loadedPaths;
    LoadedFileIdentity m_loadedFile;
    bool m_handOffBlocked = false;
    bool m_filling = false;
};

} // namespace chwr
