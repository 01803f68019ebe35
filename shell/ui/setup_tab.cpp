#include "shell/ui/setup_tab.h"

#include "ringtone_db/ring_tone_files.h"
#include "shell/program_folder.h"
#include "shell/ui/about_box.h"
#include "shell/ui/qt_ui_services.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace chwr {

SetupTab::SetupTab(WindowServices& services, DatabaseLocation& location, QWidget* parent)
    : QWidget(parent), m_services(services), m_location(location)
{
    setObjectName("SetupTab");

    Frame1 = new QGroupBox("Database Location", this);
    Frame1->setObjectName("Frame1");
    Option1[0] = new QRadioButton("&Hotsync ID (shortname):", Frame1);
    Option1[0]->setObjectName("Option1(0)");
    Option1[1] = new QRadioButton("&Path:", Frame1);
    Option1[1]->setObjectName("Option1(1)");

    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName("Combo1");
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMinimumContentsLength(20);

    txtPalmDBPath = new QLineEdit(Frame1);
    txtPalmDBPath->setObjectName("txtPalmDBPath");
    txtPalmDBPath->setMinimumWidth(360);
    Command12 = new QPushButton("&Browse", Frame1);
    Command12->setObjectName("Command12");

    auto* grid = new QGridLayout(Frame1);
    grid->addWidget(Option1[0], 0, 0);
    grid->addWidget(Combo1, 0, 1);
    grid->addWidget(Option1[1], 1, 0);
    grid->addWidget(txtPalmDBPath, 1, 1);
    grid->addWidget(Command12, 1, 2);
    grid->setColumnStretch(1, 1);

    Command18 = new QPushButton("Share and get FREE MIDI Ring Tones O&nline", this);
    Command18->setObjectName("Command18");
    // Tab goes through the frame row by row, as it is laid out.
    setTabOrder(Option1[0], Combo1);
    setTabOrder(Combo1, Option1[1]);
    setTabOrder(Option1[1], txtPalmDBPath);
    setTabOrder(txtPalmDBPath, Command12);
    setTabOrder(Command12, Command18);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Frame1);
    layout->addSpacing(12);
    layout->addWidget(Command18, 0, Qt::AlignLeft);
    layout->addStretch();

    connect(Option1[0], &QRadioButton::clicked, this, [this] { Option1_Click(0); });
    connect(Option1[1], &QRadioButton::clicked, this, [this] { Option1_Click(1); });
    connect(Combo1, &QComboBox::editTextChanged, this, &SetupTab::Combo1_Change);
    connect(Combo1, &QComboBox::activated, this, &SetupTab::Combo1_Click);
    connect(txtPalmDBPath, &QLineEdit::textEdited, this, &SetupTab::txtPalmDBPath_Change);
    connect(Command12, &QPushButton::clicked, this, &SetupTab::Command12_Click);
    connect(Command18, &QPushButton::clicked, this, &SetupTab::Command18_Click);
    refresh();
}

void SetupTab::refresh()
{
    // What the program sets is no edit of the user's: the boxes' signals stay quiet.
    const QSignalBlocker quietCombo(Combo1);
    const QSignalBlocker quietPath(txtPalmDBPath);

    QStringList users;
    for (const std::string& user : m_location.users())
        users.push_back(toQString(user));
    QStringList listed;
    for (int i = 0; i < Combo1->count(); ++i)
        listed.push_back(Combo1->itemText(i));
    if (listed != users) {
        Combo1->clear();
        Combo1->addItems(users);
    }
    if (const int entry = m_location.selectedUserIndex(); entry >= 0)
        Combo1->setCurrentIndex(entry);
    Combo1->setEditText(toQString(m_location.userText()));
    txtPalmDBPath->setText(toQString(m_location.pathText()));

    const bool path = m_location.option() == LocationOption::Path;
    Option1[path ? 1 : 0]->setChecked(true);
    txtPalmDBPath->setEnabled(m_location.pathControlsEnabled());
    Command12->setEnabled(m_location.pathControlsEnabled());
    Combo1->setEnabled(m_location.userBoxEnabled());
}

void SetupTab::Option1_Click(int index)
{
    m_location.selectOption(index);
    refresh();
}

void SetupTab::Combo1_Change(const QString& text)
{
    m_location.setUserText(text.toStdString());
}

void SetupTab::Combo1_Click(int index)
{
    if (index >= 0)
        m_location.pickUser(static_cast<std::size_t>(index));
}

void SetupTab::txtPalmDBPath_Change(const QString& text)
{
    m_location.setPathText(text.toStdString());
}

void SetupTab::Command12_Click()
{
    const BrowseStart start = browseStart(hotSyncEnvironment());
    FileDialogRequest request;
    request.title = QString::fromUtf8(kBrowseTitle.data(), static_cast<qsizetype>(kBrowseTitle.size()));
    request.filter = QString::fromUtf8(kBrowseFilter.data(), static_cast<qsizetype>(kBrowseFilter.size()));
    request.initialFolder = start.folder.empty() ? QString() : toQString(start.folder);
    // Else the folder of the database named under "Path:", else where the last one was chosen.
    if (const QFileInfo named(toQString(m_location.pathText()));
        request.initialFolder.isEmpty() && !m_location.pathText().empty() && named.absoluteDir().exists())
        request.initialFolder = named.absolutePath();
    request.fileName = start.fileName.empty() ? QString() : toQString(start.fileName);
    request.kind = FileKind::Database;
    const QString snapshot = toQString(programFolder() / kHeaderSnapshotFileName);
    request.hiddenFiles = {snapshot};
    const std::optional<QString> chosen = chooseFileToOpen(m_services, window(), request);
    if (!chosen || chosen->isEmpty())
        return;
    if (QFileInfo(*chosen).canonicalFilePath() == QFileInfo(snapshot).canonicalFilePath() &&
        QFileInfo::exists(snapshot)) {
        m_services.messages->show(window(), kWorkingCopyRefusal, MessageIcon::Exclamation);
        return;
    }
    m_location.setBrowsedPath(chosen->toStdString());
    refresh();
}

void SetupTab::Command18_Click()
{
    // A browser that does not start is not reported.
    m_services.desktop->openUrl(window(), kProgramWebPage);
}

} // namespace chwr
