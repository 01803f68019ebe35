#include "midi_edit/ui/channel_table_model.h"

#include "midi_edit/ui/midi_adjust_control.h"

#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace chwr {
namespace {

std::optional<int>* fieldOf(ChannelAdjustment& row, int column)
{
    switch (column) {
    case ChannelTableModel::OctaveColumn: return &row.Octave;
    case ChannelTableModel::VelocityColumn: return &row.Velocity;
    case ChannelTableModel::VolumeColumn: return &row.Volume;
    case ChannelTableModel::PatchColumn: return &row.Patch;
    default: return nullptr;
    }
}

// The editor property that shows each column.
constexpr const char* kEditorProperties[ChannelTableModel::ColumnCount] = {
    "MIDIChannelP", "MIDIOctaveP", "MIDIVelocityP", "MIDIVolumeP", "MIDIPatchP"};

int columnOfProperty(const char* property)
{
    for (int column = 0; column < ChannelTableModel::ColumnCount; ++column) {
        if (std::strcmp(kEditorProperties[column], property) == 0)
            return column;
    }
    return -1;
}

}  // namespace

ChannelTableModel::ChannelTableModel(MidiEditState& state, QObject* parent)
    : QAbstractTableModel(parent), m_state(state)
{
}

int ChannelTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ChannelTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ChannelTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const ChannelAdjustment& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
    case ChannelColumn: return row.Channel;
    case OctaveColumn: return row.Octave.value_or(0);
    case VelocityColumn: return row.Velocity.value_or(0);
    case VolumeColumn: return row.Volume.value_or(0);
    case PatchColumn: return row.Patch.value_or(smf::kNoProgram);
    default: return {};
    }
}

QVariant ChannelTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const kHeadings[ColumnCount] = {"Channel", "Octave", "Velocity", "Volume", "Patch"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(kHeadings[section]);
}

Qt::ItemFlags ChannelTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags itemFlags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() != ChannelColumn)
        itemFlags |= Qt::ItemIsEditable;
    return itemFlags;
}

bool ChannelTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.row() >= rowCount())
        return false;
    bool isNumber = false;
    const int number = value.toInt(&isNumber);
    if (!isNumber)
        return false;
    const auto rowIndex = static_cast<std::size_t>(index.row());
    std::optional<int>* field = fieldOf(m_rows[rowIndex], index.column());
    if (!field)
        return false;
    *field = number;
    m_edited[rowIndex] = true;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    if (Result<void> committed = commitPending(); !committed)
        emit commitFailed(QString::fromStdString(committed.error()));
    return true;
}

Result<void> ChannelTableModel::reload()
{
    if (!m_table)
        return Error{"The channel table is not open."};
    Result<std::vector<ChannelAdjustment>> rows = m_table->rows();
    if (!rows)
        return Error{rows.error()};
    beginResetModel();
    m_rows = std::move(*rows);
    m_edited.assign(m_rows.size(), false);
    endResetModel();
    return {};
}

Result<void> ChannelTableModel::commitPending()
{
    if (!m_state.RowCommitFlag || !m_table)
        return {};
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (!m_edited[i])
            continue;
        if (Result<void> saved = m_table->save(m_rows[i]); !saved)
            return saved;
        m_edited[i] = false;
    }
    return {};
}

bool ChannelTableModel::hasPendingEdits() const
{
    for (bool edited : m_edited) {
        if (edited)
            return true;
    }
    return false;
}

DataRepeater::DataRepeater(QWidget* parent) : QScrollArea(parent)
{
    setObjectName("DataRepeater1");
    setWidgetResizable(true);
    m_rowsWidget = new QWidget;
    m_rowsLayout = new QVBoxLayout(m_rowsWidget);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    m_rowsLayout->addStretch();
    setWidget(m_rowsWidget);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QSize DataRepeater::sizeHint() const
{
    const int frame = 2 * frameWidth();
    const QSize rows = m_rowsWidget->sizeHint();
    return {rows.width() + verticalScrollBar()->sizeHint().width() + frame, rows.height() + frame};
}

QSize DataRepeater::minimumSizeHint() const
{
    // Every field of a row, and as many rows as the screen has room for beside the rest of
    // the window: all of them on a screen 1024 pixels high, at least a few on any.
    constexpr int kRowsAtLeast = 4;
    constexpr int kRestOfWindow = 600;
    const QSize hint = sizeHint();
    const int row = m_editors.empty() ? 0 : m_editors.front()->sizeHint().height();
    int height = kRowsAtLeast * row + 2 * frameWidth();
    if (const QScreen* shownOn = screen())
        height = std::max(height, shownOn->availableGeometry().height() - kRestOfWindow);
    return {hint.width(), std::min(hint.height(), height)};
}

void DataRepeater::setModel(ChannelTableModel* model)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    if (m_model) {
        connect(m_model, &QAbstractItemModel::modelReset, this, &DataRepeater::rebuild);
        connect(m_model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                    refreshRows(topLeft.row(), bottomRight.row());
                });
    }
    rebuild();
}

void DataRepeater::rebuild()
{
    for (MIDIAdjustControl* editor : m_editors)
        delete editor;
    m_editors.clear();
    if (!m_model)
        return;
    const int rows = m_model->rowCount();
    if (rows == 0) {
        for (int channel = 1; channel <= smf::kChannelCount; ++channel) {
            auto* editor = new MIDIAdjustControl(m_rowsWidget);
            editor->showBlank(channel);
            m_rowsLayout->insertWidget(channel - 1, editor);
            m_editors.push_back(editor);
        }
        updateGeometry();
        emit rebuilt();
        return;
    }
    for (int row = 0; row < rows; ++row) {
        auto* editor = new MIDIAdjustControl(m_rowsWidget);
        m_rowsLayout->insertWidget(row, editor);
        m_editors.push_back(editor);
        connect(editor, &MIDIAdjustControl::edited, this, [this, editor](const char* property, int value) {
            const auto found = std::find(m_editors.begin(), m_editors.end(), editor);
            const int column = columnOfProperty(property);
            if (found == m_editors.end() || column < 0)
                return;
            m_model->setData(m_model->index(static_cast<int>(found - m_editors.begin()), column), value);
        });
    }
    refreshRows(0, rows - 1);
    updateGeometry();
    emit rebuilt();
}

void DataRepeater::refreshRows(int first, int last)
{
    for (int row = std::max(first, 0); row <= last && row < static_cast<int>(m_editors.size()); ++row) {
        MIDIAdjustControl* editor = m_editors[static_cast<std::size_t>(row)];
        for (int column = 0; column < ChannelTableModel::ColumnCount; ++column)
            editor->setProperty(kEditorProperties[column], m_model->data(m_model->index(row, column)));
    }
}

}  // namespace chwr
