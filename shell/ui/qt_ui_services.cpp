#include "shell/ui/qt_ui_services.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

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

} // namespace

void QtMessageBoxes::show(QWidget* owner, const QString& text, MessageIcon icon)
{
    QMessageBox box(qtIcon(icon), QString::fromUtf8(kProgramTitle), text, QMessageBox::Ok, owner);
    box.exec();
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
    return chosen(QFileDialog::getOpenFileName(owner, request.title, dialogStartPath(request),
                                               qtFileFilter(request.filter)));
}

std::optional<QString> QtFileDialogs::save(QWidget* owner, const FileDialogRequest& request)
{
    return chosen(QFileDialog::getSaveFileName(owner, request.title, dialogStartPath(request),
                                               qtFileFilter(request.filter)));
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
