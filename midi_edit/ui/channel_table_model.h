#pragma once

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_edit_state.h"
#include "shell/result.h"

#include <QAbstractTableModel>
#include <QScrollArea>

#include <vector>

class QVBoxLayout;

namespace chwr {

class MIDIAdjustControl;

// The rows of tblMIDIAdjust as the window shows them: one row per stored row, the
// columns Channel, Octave, Velocity, Volume and Patch.
//
// An edit changes the shown row at once and is committed to the table right away while
// RowCommitFlag is true; while it is false (an open rebuilds the rows, a rewrite runs)
// the edit waits and goes in with the next commit.
class ChannelTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ChannelColumn, OctaveColumn, VelocityColumn, VolumeColumn, PatchColumn, ColumnCount };

    ChannelTableModel(MidiEditState& state, QObject* parent = nullptr);

    // The table the rows come from; null until the tab has opened it.
    void setTable(ChannelTable* table) { m_table = table; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // An empty Octave, Velocity or Volume reads as 0 and an empty Patch as -1: the same
    // "no change" the rewrite takes them for.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Channel cannot be changed; the other fields take whole numbers.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Re-reads every row from the table; edits not yet committed are dropped.
    Result<void> reload();
    // Writes the edited rows to the table, when RowCommitFlag allows it.
    Result<void> commitPending();
    bool hasPendingEdits() const;

    const std::vector<ChannelAdjustment>& rows() const { return m_rows; }

signals:
    // A commit after an edit failed; the edit stays pending.
    void commitFailed(const QString& message);

private:
    MidiEditState& m_state;
    ChannelTable* m_table = nullptr;
    std::vector<ChannelAdjustment> m_rows;
    std::vector<bool> m_edited;
};

// DataRepeater1: one MIDIAdjustControl per row of the model, bound both ways. A model
// without rows (no file open) shows each channel's row empty and disabled.
//
// The rows never scroll sideways: the repeater asks for their whole width, and for their
// whole height as its preferred size.
class DataRepeater : public QScrollArea {
    Q_OBJECT
public:
    explicit DataRepeater(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    void setModel(ChannelTableModel* model);
    // The editors, one per row, in row order.
    const std::vector<MIDIAdjustControl*>& editors() const { return m_editors; }

signals:
    // The editors were made anew (an open, a reload).
    void rebuilt();

private:
    void rebuild();
    void refreshRows(int first, int last);

    ChannelTableModel* m_model = nullptr;
    QWidget* m_rowsWidget = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    std::vector<MIDIAdjustControl*> m_editors;
};

}  // namespace chwr
