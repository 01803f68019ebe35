#include "shell/ui/qt_ui_services.h"

#include "shell/ui/window_services.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QUrl>

#include <system_error>

namespace chwr {

namespace {

QMessageBox::Icon qtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

std::optional<QString> chosen(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

// The dialog's list without the files the request hides.
class HidingProxy : public QSortFilterProxyModel {
public:
    HidingProxy(const QStringList& hidden, QObject* parent) : QSortFilterProxyModel(parent)
    {
        for (const QString& file : hidden)
            m_hidden.push_back(QFileInfo(file).absoluteFilePath());
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files)
            return true;
        return !m_hidden.contains(files->filePath(files->index(row, 0, parent)));
    }

private:
    QStringList m_hidden;
};

std::optional<QString> runDialog(QWidget* owner, const FileDialogRequest& request,
                                 QFileDialog::AcceptMode mode)
{
    if (request.hiddenFiles.isEmpty()) {
        return chosen(mode == QFileDialog::AcceptOpen
                          ? QFileDialog::getOpenFileName(owner, request.title, dialogStartPath(request),
                                                         qtFileFilter(request.filter))
                          : QFileDialog::getSaveFileName(owner, request.title, dialogStartPath(request),
                                                         qtFileFilter(request.filter)));
    }
    QFileDialog dialog(owner, request.title, dialogStartPath(request), qtFileFilter(request.filter));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setProxyModel(new HidingProxy(request.hiddenFiles, &dialog));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return chosen(dialog.selectedFiles().front());
}

const std::string_view* folderSetting(FileKind kind)
{
    switch (kind) {
    case FileKind::Midi:
        return &kMidiFolderSetting;
    case FileKind::Database:
        return &kDatabaseFolderSetting;
    case FileKind::Other:
        break;
    }
    return nullptr;
}

std::optional<QString> chooseFile(WindowServices& services, QWidget* owner, FileDialogRequest request,
                                  bool toSave)
{
    if (services.folders && request.initialFolder.isEmpty() && !QFileInfo(request.fileName).isAbsolute())
        request.initialFolder = services.folders->startFolder(request.kind);
    std::optional<QString> file =
        toSave ? services.dialogs->save(owner, request) : services.dialogs->open(owner, request);
    if (file && services.folders)
        services.folders->remember(request.kind, *file);
    return file;
}

} // namespace

std::optional<QString> chooseFileToOpen(WindowServices& services, QWidget* owner, FileDialogRequest request)
{
    return chooseFile(services, owner, std::move(request), false);
}

std::optional<QString> chooseFileToSave(WindowServices& services, QWidget* owner, FileDialogRequest request)
{
    return chooseFile(services, owner, std::move(request), true);
}

QString SettingsDialogFolders::startFolder(FileKind kind) const
{
    if (const std::string_view* setting = folderSetting(kind)) {
        const std::filesystem::path folder = m_settings.readSetting(*setting);
        std::error_code error;
        if (!folder.empty() && std::filesystem::is_directory(folder, error))
            return toQString(folder);
    }
    return toQString(m_home);
}

void SettingsDialogFolders::remember(FileKind kind, const QString& chosenFile)
{
    if (const std::string_view* setting = folderSetting(kind); setting && !chosenFile.isEmpty())
        (void)m_settings.writeSetting(*setting, QFileInfo(chosenFile).absolutePath().toStdString());
}

void QtMessageBoxes::show(QWidget* owner, const QString& text, MessageIcon icon)
{
    QMessageBox box(qtIcon(icon), QString::fromUtf8(kProgramTitle), text, QMessageBox::Ok, owner);
    box.exec();
}

int QtMessageBoxes::ask(QWidget* owner, const QString& text, const QStringList& buttons, MessageIcon icon)
{
    QMessageBox box(qtIcon(icon), QString::fromUtf8(kProgramTitle), text, QMessageBox::NoButton, owner);
    QList<QAbstractButton*> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        const bool last = i + 1 == buttons.size();
        QPushButton* button =
            box.addButton(buttons[i], last && i > 0 ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (i == 0)
            box.setDefaultButton(button);
        if (last)
            box.setEscapeButton(button);
        added.push_back(button);
    }
    box.exec();
    return static_cast<int>(added.indexOf(box.clickedButton()));
}

QString qtFileFilter(const QString& pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        const QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
        if (pattern.isEmpty()) {
            filters.push_back(description);
            continue;
        }
        // File names on this system are case-sensitive; a Palm backup names its files
        // in capitals ("MIDI_Ring_Tones.PDB"), so each pattern also matches upper case.
        QStringList patterns;
        for (const QString& one : pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            patterns.push_back(one);
            if (one.toUpper() != one)
                patterns.push_back(one.toUpper());
        }
        if (const qsizetype open = description.indexOf(" ("); open >= 0)
            description.truncate(open);
        filters.push_back(description + " (" + patterns.join(QLatin1Char(' ')) + ")");
    }
    return filters.join(";;");
}

QString dialogStartPath(const FileDialogRequest& request)
{
    if (request.fileName.isEmpty())
        return request.initialFolder;
    if (QFileInfo(request.fileName).isAbsolute() || request.initialFolder.isEmpty())
        return request.fileName;
    return QDir(request.initialFolder).filePath(request.fileName);
}

std::optional<QString> QtFileDialogs::open(QWidget* owner, const FileDialogRequest& request)
{
    return runDialog(owner, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtFileDialogs::save(QWidget* owner, const FileDialogRequest& request)
{
    return runDialog(owner, request, QFileDialog::AcceptSave);
}

bool QtDesktopServices::openUrl(QWidget*, const QString& url)
{
    return QDesktopServices::openUrl(QUrl::fromUserInput(url));
}

bool QtDesktopServices::startProgram(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace chwr
