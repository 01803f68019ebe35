#include "ringtone_db/ui/load_midi_tab.h"

#include "midi_edit/ui/mm_control.h"
#include "ringtone_db/ring_tone_files.h"
#include "ringtone_db/standard_midi_file.h"
#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "shell/ui/qt_ui_services.h"
#include "shell/windows1252.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace chwr {
namespace fs = std::filesystem;

namespace {

constexpr const char* kMidiFileFilter = "MIDI File (*.mid)|*.mid";
// How often a long loop lets the window repaint and take clicks.
constexpr qint64 kBreatheIntervalMs = 50;

enum Column { NameColumn = 0, SizeColumn = 1, AddedColumn = 2 };

QString nameText(ByteView name)
{
    return QString::fromStdString(windows1252ToUtf8(name));
}

QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

// False only for an ordinary file whose first bytes are neither a Standard MIDI File's
// header nor a RIFF MIDI file's; what cannot be read is left to the add to refuse.
bool startsLikeMidiFile(const fs::path& file)
{
    QFile opened(toQString(file));
    if (!QFileInfo(opened).isFile() || !opened.open(QIODevice::ReadOnly))
        return true;
    const QByteArray head = opened.read(kRiffHeaderBytes);
    const ByteView bytes(reinterpret_cast<const std::uint8_t*>(head.data()),
                         static_cast<std::size_t>(head.size()));
    return isRiffMidiFile(bytes) || (bytes.size() >= kSmfHeaderId.size() &&
                                     std::equal(kSmfHeaderId.begin(), kSmfHeaderId.end(), bytes.begin()));
}

bool isDroppedMidiFile(const QUrl& url)
{
    if (!url.isLocalFile())
        return false;
    const QString name = url.toLocalFile();
    for (const char* extension : kDroppedMidiExtensions)
        if (name.endsWith(QLatin1String(extension), Qt::CaseInsensitive))
            return true;
    return false;
}

// The ring tone list: tells the tab of keys that act on the selected row, of a current
// row moved by the keyboard, and of MIDI files dropped on it.
class RingToneList : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

    std::function<void()> onPlay;
    std::function<void()> onRemove;
    std::function<void()> onRename;
    std::function<void()> onMenu;
    std::function<void()> onKeyboardMove;
    std::function<void(const QStringList&)> onDrop;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && state() != EditingState) {
            switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                onPlay();
                event->accept();
                return;
            case Qt::Key_Delete:
                onRemove();
                event->accept();
                return;
            case Qt::Key_F2:
                onRename();
                event->accept();
                return;
            case Qt::Key_Menu:
                onMenu();
                event->accept();
                return;
            default:
                break;
            }
        }
        const QTreeWidgetItem* before = currentItem();
        QTreeWidget::keyPressEvent(event);
        if (currentItem() && currentItem() != before)
            onKeyboardMove();
    }
    void dragEnterEvent(QDragEnterEvent* event) override { acceptMidiFiles(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { acceptMidiFiles(event); }
    void dropEvent(QDropEvent* event) override
    {
        if (!acceptMidiFiles(event))
            return;
        QStringList files;
        for (const QUrl& url : event->mimeData()->urls())
            if (isDroppedMidiFile(url))
                files.push_back(url.toLocalFile());
        onDrop(files);
    }

private:
    bool acceptMidiFiles(QDropEvent* event)
    {
        const QList<QUrl> urls = event->mimeData() ? event->mimeData()->urls() : QList<QUrl>();
        const bool midi = std::any_of(urls.begin(), urls.end(), isDroppedMidiFile);
        if (midi)
            event->acceptProposedAction();
        else
            event->ignore();
        return midi;
    }
};

} // namespace

LoadMidiTab::LoadMidiTab(WindowServices& services, RingToneDatabase& database, MidiEditState& state,
                         DatabasePathResolver resolvePaths, QWidget* parent)
    : QWidget(parent), m_services(services), m_database(database), m_state(state),
      m_resolvePaths(std::move(resolvePaths))
{
    setObjectName("LoadMidiTab");

    auto* list = new RingToneList(this);
    ListView1 = list;
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setHeaderLabels({"Name", "Size", QString()});
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setMinimumSectionSize(1);
    ListView1->headerItem()->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    ListView1->setColumnWidth(NameColumn, columnWidthFor(kNameColumnSample));
    ListView1->setColumnWidth(SizeColumn, columnWidthFor(kSizeColumnSample));
    ListView1->setColumnWidth(AddedColumn, columnWidthFor(kAddedColumnSample));
    // The name takes the width the list has beyond its samples, so the columns always
    // fill the row and a selected row is highlighted whole.
    ListView1->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    ListView1->header()->setSectionResizeMode(SizeColumn, QHeaderView::Fixed);
    ListView1->header()->setSectionResizeMode(AddedColumn, QHeaderView::Fixed);
    ListView1->setMinimumWidth(columnWidthFor(kNameColumnSample) + columnWidthFor(kSizeColumnSample) +
                               columnWidthFor(kAddedColumnSample) + 2 * ListView1->frameWidth() +
                               ListView1->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    ListView1->viewport()->installEventFilter(this);
    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->setDropIndicatorShown(false);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    list->onPlay = [this] {
        // The row the keyboard stands on, selected or not, is the one to play.
        if (QTreeWidgetItem* current = ListView1->currentItem())
            current->setSelected(true);
        PreviewRingTone();
    };
    list->onRemove = [this] { RemoveRingTone(); };
    list->onRename = [this] { RenameRingTone(); };
    // The menu key opens the menu of the row the keyboard stands on.
    list->onMenu = [this] {
        if (QTreeWidgetItem* current = ListView1->currentItem()) {
            current->setSelected(true);
            showContextMenu(ListView1->visualItemRect(current).center());
        }
    };
    list->onKeyboardMove = [this] { PreviewRingTone(); };
    list->onDrop = [this](const QStringList& files) { AddFiles(files); };

    Command1 = makeButton("Command1", kLoadCaption, this);
    Command2 = makeButton("Command2", "A&dd MIDI File", this);
    Command7 = makeButton("Command7", "&Update Ring Tones", this);
    Command13 = makeButton("Command13", "&Export MIDI", this);
    Command14 = makeButton("Command14", "Modif&y MIDI", this);
    // The caption grows after the first load; the button is as wide as it ever is, so
    // the list beside it does not move.
    const int loadWidth = Command1->sizeHint().width();
    Command1->setText(kReloadCaption);
    Command1->setMinimumWidth(std::max(loadWidth, Command1->sizeHint().width()));
    Command1->setText(kLoadCaption);
    Command2->setEnabled(false);
    Command7->setEnabled(false);
    Command13->setEnabled(false);
    Command14->setEnabled(false);

    MMControl2 = new MMControl(m_services.makePlayer(), this);
    MMControl2->setObjectName("MMControl2");
    MMControl2->setEnabled(false);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command7);
    buttons->addSpacing(16);
    buttons->addWidget(Command13);
    buttons->addWidget(Command14);
    buttons->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(ListView1, 1);
    top->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(MMControl2);

    connect(Command1, &QPushButton::clicked, this, &LoadMidiTab::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &LoadMidiTab::Command2_Click);
    connect(Command7, &QPushButton::clicked, this, &LoadMidiTab::Command7_Click);
    connect(Command13, &QPushButton::clicked, this, &LoadMidiTab::Command13_Click);
    connect(Command14, &QPushButton::clicked, this, &LoadMidiTab::Command14_Click);
    connect(MMControl2, &MMControl::StatusUpdate, this, &LoadMidiTab::MMControl2_StatusUpdate);
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &LoadMidiTab::followSelection);
    connect(ListView1, &QTreeWidget::itemChanged, this, &LoadMidiTab::commitRename);
    connect(ListView1, &QWidget::customContextMenuRequested, this, &LoadMidiTab::showContextMenu);

    ListView1Menu = new QMenu(this);
    ListView1Menu->setObjectName("ListView1Menu");
    mnuRemove = ListView1Menu->addAction("&Remove", this, &LoadMidiTab::RemoveRingTone);
    mnuRename = ListView1Menu->addAction("Re&name", this, &LoadMidiTab::RenameRingTone);
    mnuExport = ListView1Menu->addAction("&Export MIDI", this, &LoadMidiTab::ExportRingTone);
    mnuModify = ListView1Menu->addAction("&Modify MIDI", this, &LoadMidiTab::Command14_Click);
    // The keys that do the same on the list, shown beside the entries.
    mnuRemove->setShortcut(QKeySequence::Delete);
    mnuRename->setShortcut(Qt::Key_F2);
    for (QAction* action : ListView1Menu->actions())
        action->setShortcutContext(Qt::WidgetShortcut);
}

int LoadMidiTab::columnWidthFor(const QString& sample) const
{
    // The sample drawn in the list's font, plus the margin a cell keeps on each side.
    const int margin = ListView1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ListView1) + 1;
    return ListView1->fontMetrics().horizontalAdvance(sample) + 2 * margin;
}

std::optional<std::size_t> LoadMidiTab::selectedRow() const
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return static_cast<std::size_t>(ListView1->indexOfTopLevelItem(selected.front()));
}

QString LoadMidiTab::rowName(std::size_t row) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(static_cast<int>(row));
    return item ? item->text(NameColumn) : QString();
}

void LoadMidiTab::refuse(const QString& message)
{
    m_services.messages->show(window(), message, MessageIcon::Exclamation);
}

void LoadMidiTab::unload()
{
    m_previewRow.reset();
    ListView1->clear();
    m_database = RingToneDatabase();
    m_loadedPaths.reset();
    m_loadedFile = {};
    (void)MMControl2->command("Close");
    MMControl2->setEnabled(false);
    followSelection();
    setChanged(false);
}

bool LoadMidiTab::settleUnwrittenChanges(const QString& question)
{
    if (!m_changed)
        return true;
    const int answer = m_services.messages->ask(window(), question, {"&Write", "&Discard", "Cancel"},
                                                MessageIcon::Exclamation);
    if (answer == 0) {
        Command7_Click();
        return !m_changed;
    }
    return answer == 1;
}

void LoadMidiTab::setChanged(bool changed)
{
    if (changed == m_changed)
        return;
    m_changed = changed;
    emit unwrittenChangesChanged(changed);
}

void LoadMidiTab::followSelection()
{
    const std::optional<std::size_t> row = m_filling ? std::nullopt : selectedRow();
    Command13->setEnabled(row.has_value());
    Command14->setEnabled(row.has_value());
    if (m_previewRow && m_previewRow != row) {
        m_previewRow.reset();
        (void)MMControl2->command("Close");
        MMControl2->setEnabled(false);
    }
}

void LoadMidiTab::appendRow(std::size_t index)
{
    const RingToneRecord& ringTone = m_database.ringTones().at(index);
    const QSignalBlocker quiet(ListView1);
    auto* item = new QTreeWidgetItem(ListView1);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setText(NameColumn, nameText(ringTone.name));
    item->setText(SizeColumn, QString::number(ringTone.size));
    item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(AddedColumn, ringTone.carriesAddedMark() ? "x" : "");
}

void LoadMidiTab::showRows()
{
    // The window repaints and takes clicks while a long list fills; the list's own
    // actions wait until it is whole.
    m_filling = true;
    ListView1->clear();
    followSelection();
    QElapsedTimer sinceBreath;
    sinceBreath.start();
    for (std::size_t i = 0; i < m_database.ringTones().size(); ++i) {
        appendRow(i);
        if (sinceBreath.elapsed() >= kBreatheIntervalMs) {
            QCoreApplication::processEvents();
            sinceBreath.restart();
        }
    }
    m_filling = false;
    followSelection();
}

void LoadMidiTab::Command1_Click()
{
    if (m_filling)
        return;
    // Loading again would drop what was added, removed or renamed since the last write.
    if (!settleUnwrittenChanges(kWriteBeforeReloadQuestion))
        return;
    Result<DatabasePaths> paths = m_resolvePaths();
    if (!paths) {
        refuse(QString::fromStdString(paths.error()));
        return;
    }
    if (!FileExists(paths->database)) {
        unload();
        refuse(QString::fromStdString(kDatabaseMissingMessage + paths->database.string()));
        return;
    }
    LoadedFileIdentity identity;
    Result<RingToneDatabase> loaded = loadRingTones(paths->database, &identity);
    if (!loaded) {
        // A refused database unloads the earlier one too: "Update" must never write an
        // older list over the file the user just tried to load.
        unload();
        refuse(QString::fromStdString(loaded.error()));
        return;
    }
    m_database = std::move(loaded).value();
    m_loadedPaths = *paths;
    m_loadedFile = std::move(identity);
    m_previewRow.reset();
    (void)MMControl2->command("Close");
    MMControl2->setEnabled(false);
    showRows();
    setChanged(false);
    Command2->setEnabled(true);
    Command7->setEnabled(true);
    Command1->setText(kReloadCaption);
}

void LoadMidiTab::Command2_Click()
{
    AddMidiFile();
}

void LoadMidiTab::AddMidiFile()
{
    const std::string pendingPath = std::exchange(m_state.PendingImportPath, std::string());
    if (m_filling)
        return;
    if (!m_database.isLoaded()) {
        refuse(kNoRingTonesLoadedMessage);
        return;
    }

    fs::path file;
    Bytes name;
    if (pendingPath.empty()) {
        FileDialogRequest request;
        request.title = "Add MIDI File";
        request.filter = kMidiFileFilter;
        request.kind = FileKind::Midi;
        std::optional<QString> chosen = chooseFileToOpen(m_services, window(), request);
        if (!chosen)
            return;
        file = toPath(*chosen);
        m_state.MidiDisplayName = NameStem(file.filename().string());
        name = m_database.uniqueRingToneName(utf8ToWindows1252(m_state.MidiDisplayName));
    } else {
        file = pendingPath;
        name = utf8ToWindows1252(m_state.PendingImportName);
    }
    addFileNamed(file, name, {}, pendingPath.empty());
}

bool LoadMidiTab::addFileNamed(const fs::path& file, ByteView name, const QString& refusalPrefix,
                               bool offerFit)
{
    // A large file is refused for its size unread; one that is no MIDI file at all (a
    // picture dropped with songs) is called what it is instead.
    if (m_database.isLoaded() && !startsLikeMidiFile(file)) {
        refuse(refusalPrefix + kNotStandardMidiFileMessage);
        return false;
    }
    Result<std::size_t> added = addMidiFileNamed(m_database, file, name);
    if (!added && offerFit && added.error() == kMidiFileTooLargeMessage) {
        const QString offer = refusalPrefix + QString::fromStdString(added.error()) +
                              "\n\nOpen it on the \"Modify MIDI\" tab with its end mark set so that it fits?";
        if (m_services.messages->ask(window(), offer, {"&Yes", "&No"}, MessageIcon::Exclamation) == 0)
            emit fitOnModifyMidiRequested(toQString(file));
        return false;
    }
    if (!added) {
        refuse(refusalPrefix + QString::fromStdString(added.error()));
        return false;
    }
    appendRow(*added);
    // Selecting from code is no click: it does not start a preview, and it closes the
    // preview of the row selected before.
    ListView1->setCurrentItem(ListView1->topLevelItem(static_cast<int>(*added)));
    ListView1->scrollToItem(ListView1->currentItem());
    setChanged(true);
    return true;
}

void LoadMidiTab::AddFiles(const QStringList& files)
{
    if (m_filling || files.isEmpty())
        return;
    if (!m_database.isLoaded()) {
        refuse(kNoRingTonesLoadedMessage);
        return;
    }
    for (const QString& each : files) {
        const fs::path file = toPath(each);
        // Among several files, each refusal names its file.
        const QString prefix = files.size() > 1 ? toQString(file.filename()) + ": " : QString();
        const Bytes name =
            m_database.uniqueRingToneName(utf8ToWindows1252(NameStem(file.filename().string())));
        addFileNamed(file, name, prefix);
    }
}

void LoadMidiTab::RemoveRingTone()
{
    std::optional<std::size_t> row = rowForAction();
    if (!row)
        return;
    if (auto removed = m_database.removeRingTone(*row); !removed) {
        refuse(QString::fromStdString(removed.error()));
        return;
    }
    // The rows after it move up, the preview with them: it is closed.
    m_previewRow.reset();
    (void)MMControl2->command("Close");
    MMControl2->setEnabled(false);
    delete ListView1->takeTopLevelItem(static_cast<int>(*row));
    if (const int count = ListView1->topLevelItemCount(); count > 0)
        ListView1->setCurrentItem(ListView1->topLevelItem(std::min(static_cast<int>(*row), count - 1)));
    followSelection();
    setChanged(true);
}

void LoadMidiTab::RenameRingTone()
{
    if (std::optional<std::size_t> row = rowForAction())
        ListView1->editItem(ListView1->topLevelItem(static_cast<int>(*row)), NameColumn);
}

void LoadMidiTab::commitRename(QTreeWidgetItem* item, int column)
{
    const int row = ListView1->indexOfTopLevelItem(item);
    if (column != NameColumn || row < 0 || static_cast<std::size_t>(row) >= m_database.ringTones().size())
        return;
    const std::size_t index = static_cast<std::size_t>(row);
    const Bytes wanted = utf8ToWindows1252(item->text(NameColumn).toStdString());
    const bool same = wanted == m_database.ringTones()[index].name;
    Result<void> renamed = same ? Result<void>() : m_database.renameRingTone(index, wanted);
    {
        // The row shows the name as stored: the old one when refused, else the new one in
        // the handheld's code page.
        const QSignalBlocker quiet(ListView1);
        item->setText(NameColumn, nameText(m_database.ringTones()[index].name));
    }
    if (!renamed) {
        refuse(QString::fromStdString(renamed.error()));
        return;
    }
    if (!same)
        setChanged(true);
}

void LoadMidiTab::showContextMenu(const QPoint& position)
{
    if (m_filling)
        return;
    QTreeWidgetItem* item = ListView1->itemAt(position);
    if (item)
        ListView1->setCurrentItem(item);
    else if (selectedRow())
        item = ListView1->currentItem();
    if (!item)
        return;
    const QPoint at = ListView1->visualItemRect(item).contains(position)
                          ? position
                          : ListView1->visualItemRect(item).bottomLeft();
    ListView1Menu->popup(ListView1->viewport()->mapToGlobal(at));
}

void LoadMidiTab::Command7_Click()
{
    if (m_filling)
        return;
    if (!m_database.isLoaded() || !m_loadedPaths) {
        refuse(kNoRingTonesLoadedMessage);
        return;
    }
    // The file the list came from, unchanged since: never another one that the Setup tab
    // names by now, nor one that another program wrote in between.
    Result<UpdateOutcome> updated =
        updateRingTones(m_database, m_loadedPaths->database, m_loadedPaths->backup, m_services.install,
                        UpdateGuard(m_loadedFile));
    if (!updated) {
        m_services.messages->show(window(), QString::fromStdString(updated.error()), MessageIcon::Critical);
        return;
    }
    m_loadedFile = updated->written;
    setChanged(false);
    ListView1->update();
    if (!updated->handedOff && !updated->installMessage.empty()) {
        // Nothing is queued for the next HotSync: the user installs the file.
        m_services.messages->show(window(),
                                  "The ring tones were written to \"" + toQString(m_loadedPaths->database) +
                                      "\", but no HotSync tool took the database.\n\n" +
                                      QString::fromStdString(updated->installMessage),
                                  MessageIcon::Exclamation);
        return;
    }
    QString notice = kHotSyncNotice;
    if (!updated->installMessage.empty())
        notice += "\n\n" + QString::fromStdString(updated->installMessage);
    m_services.messages->show(window(), notice, MessageIcon::Information);
}

std::optional<std::size_t> LoadMidiTab::rowForAction()
{
    if (m_filling)
        return std::nullopt;
    if (ListView1->topLevelItemCount() == 0) {
        refuse(kNoRingTonesLoadedMessage);
        return std::nullopt;
    }
    std::optional<std::size_t> row = selectedRow();
    if (!row)
        refuse(kNoRingToneSelectedMessage);
    return row;
}

void LoadMidiTab::ListView1_Click()
{
    PreviewRingTone();
}

void LoadMidiTab::PreviewRingTone()
{
    std::optional<std::size_t> row = rowForAction();
    if (!row)
        return;
    MMControl2->setEnabled(true);
    m_previewRow = row;

    // The player lets go of the preview file before it is replaced.
    (void)MMControl2->command("Close");
    Result<fs::path> folder = ensureProgramFolder();
    if (!folder) {
        refuse(QString::fromStdString(folder.error()));
        return;
    }
    const fs::path preview = *folder / kPreviewFileName;
    if (auto written = writeFileAtomic(preview, m_database.ringTones().at(*row).midiData()); !written) {
        refuse(QString::fromStdString(written.error()));
        return;
    }
    MMControl2->setDeviceType("Sequencer");
    MMControl2->setFileName(preview);
    if (auto opened = MMControl2->command("Open"); !opened) {
        // The preview file is the program's own: the message names the ring tone.
        QString message = QString::fromStdString(opened.error());
        message.replace("\"" + toQString(preview) + "\"", "the ring tone \"" + rowName(*row) + "\"");
        refuse(message);
        return;
    }
    (void)MMControl2->command("Play");
}

void LoadMidiTab::Command13_Click()
{
    ExportRingTone();
}

void LoadMidiTab::ExportRingTone()
{
    std::optional<std::size_t> row = rowForAction();
    if (!row)
        return;
    const fs::path folder = toPath(m_services.folders ? m_services.folders->startFolder(FileKind::Midi)
                                                      : toQString(programFolder() / kMidiFolderName));
    FileDialogRequest request;
    request.title = "Export MIDI File";
    request.filter = kMidiFileFilter;
    request.kind = FileKind::Midi;
    request.fileName = toQString(folder / exportFileName(m_database.ringTones().at(*row), folder));
    std::optional<QString> chosen = chooseFileToSave(m_services, window(), request);
    if (!chosen)
        return;
    const fs::path target = toPath(*chosen);
    auto exported = m_loadedPaths ? exportRingTone(m_database, *row, target, m_loadedPaths->database)
                                  : exportRingTone(m_database, *row, target);
    if (!exported)
        m_services.messages->show(window(), QString::fromStdString(exported.error()), MessageIcon::Critical);
}

void LoadMidiTab::Command14_Click()
{
    if (m_handOffBlocked)
        return;
    if (std::optional<std::size_t> row = rowForAction())
        emit modifyMidiRequested(*row);
}

Result<fs::path> LoadMidiTab::writeModifyExport(std::size_t row)
{
    Result<fs::path> folder = ensureProgramFolder();
    if (!folder)
        return Error{folder.error()};
    const fs::path handOff = *folder / kModifyExportFileName;
    if (auto written = writeFileAtomic(handOff, m_database.ringTones().at(row).midiData()); !written)
        return Error{written.error()};
    return handOff;
}

void LoadMidiTab::MMControl2_StatusUpdate()
{
    // A ring tone that has played to its end stands at its start again.
    if (MMControl2->player().isOpen() && MMControl2->position() >= MMControl2->length())
        (void)MMControl2->command("Prev");
}

bool LoadMidiTab::eventFilter(QObject* watched, QEvent* event)
{
    // A click anywhere on the list, on a row or on the empty space below the rows.
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        ListView1_Click();
    return QWidget::eventFilter(watched, event);
}

} // namespace chwr
