#pragma once

#include "midi_edit/midi_edit_state.h"
#include "ringtone_db/ring_tone_database.h"
#include "ringtone_db/ring_tone_files.h"
#include "shell/result.h"
#include "shell/ui/window_services.h"

#include <QWidget>

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>

class QAction;
class QPoint;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

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
// Asked when "Load Current Ring Tones" would drop ring tones added, removed or renamed
// since the last write; the answers are Write, Discard and Cancel.
inline constexpr const char* kWriteBeforeReloadQuestion =
    "Write the ring tones to the database before loading them again?";
// Command1's captions, before and after the first load; the button is as wide as the wider.
inline constexpr const char* kLoadCaption = "Load Current &Ring Tones";
inline constexpr const char* kReloadCaption = "Reload Current &Ring Tones";
// The files a drop on the list adds, by their extension (compared without case).
inline constexpr std::array<const char*, 3> kDroppedMidiExtensions = {".mid", ".midi", ".rmi"};
// Sample texts whose width sets the width of the list's three columns.
inline constexpr const char* kNameColumnSample = "12345678901234567890";
inline constexpr const char* kSizeColumnSample = "1,000,000";
inline constexpr const char* kAddedColumnSample = "x";

// The "Load MIDI" tab: the ring tone list of the loaded database with its load, add,
// update, preview, export and "Modify MIDI" actions. The rows always mirror the
// database's ring tones, row i showing ring tone i. The selected row is the one every
// action and the player work on: a click or a keyboard move onto a row plays it, any
// other change of selection closes the player. Return or Space plays the selected row,
// Delete removes it, F2 renames it in place, and its context menu does all four; MIDI
// files dropped on the list are added.
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
    // The context menu of a row: Remove, Rename, Export MIDI, Modify MIDI.
    QMenu* ListView1Menu = nullptr;
    QAction* mnuRemove = nullptr;
    QAction* mnuRename = nullptr;
    QAction* mnuExport = nullptr;
    QAction* mnuModify = nullptr;

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
    // With unwritten changes, asks `question` with Write, Discard and Cancel; Write writes
    // them. True when the caller may go on: nothing unwritten, Discard, or a write that held.
    bool settleUnwrittenChanges(const QString& question);

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
    // Removes the selected ring tone from the list (written by "Update Ring Tones").
    void RemoveRingTone();
    // Starts the in-place edit of the selected ring tone's name.
    void RenameRingTone();
    // Adds each file as "Add MIDI File" would; each one refused says why.
    void AddFiles(const QStringList& files);

signals:
    // "Modify MIDI" passed its checks for this row; the window does the hand-off.
    void modifyMidiRequested(std::size_t row);
    // The user took the offer for a MIDI file too large to add: the window opens it on
    // "Modify MIDI" with its end mark fitted.
    void fitOnModifyMidiRequested(const QString& file);
    // The list came to hold unwritten changes, or no longer does.
    void unwrittenChangesChanged(bool changed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The row for a list click or a button that needs one, or nothing after the
    // message that says why not (and nothing while the list fills).
    std::optional<std::size_t> rowForAction();
    void showRows();
    void appendRow(std::size_t index);
    void refuse(const QString& message);
    // Adds one file under this name, selects its row and marks the list changed.
    // offerFit: a file refused for its size brings the offer to fit it on "Modify MIDI".
    bool addFileNamed(const std::filesystem::path& file, ByteView name, const QString& refusalPrefix = {},
                      bool offerFit = false);
    // Enables what the selection allows and closes a preview of a row no longer selected.
    void followSelection();
    void commitRename(QTreeWidgetItem* item, int column);
    void showContextMenu(const QPoint& position);
    void setChanged(bool changed);
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
    bool m_changed = false; // ring tones added, removed or renamed and not yet written
    // The row whose preview the player holds.
    std::optional<std::size_t> m_previewRow;
};

} // namespace chwr
