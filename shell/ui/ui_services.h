#pragma once

// The platform pieces the window needs that would otherwise block or leave the
// process: message boxes, file dialogs and the desktop's "open". The real ones are
// Qt's; tests script them, so the real window runs offscreen without anything modal.

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace chwr {

enum class MessageIcon { None, Information, Exclamation, Critical };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A message box with the program's title "Chimewright Vuruva" and an OK button.
    virtual void show(QWidget* owner, const QString& text, MessageIcon icon) = 0;
    // A question with the program's title and these buttons ("&Write", "&Discard",
    // "Cancel"): the index of the button pressed, or -1 when the box was closed
    // without one (Escape), which callers take as the last, cancelling button.
    virtual int ask(QWidget* owner, const QString& text, const QStringList& buttons, MessageIcon icon) = 0;
};

// The kinds of file a dialog picks; each kind starts where the user last was with it.
enum class FileKind { Other, Midi, Database };

struct FileDialogRequest {
    QString title;         // "Add MIDI File"
    QString filter;        // "MIDI File (*.mid)|*.mid"
    QString initialFolder; // may be empty: DialogFolders fills it from the kind
    QString fileName;      // preset full path or name; may be empty
    FileKind kind = FileKind::Other;
    // Files the dialog does not list: the program's own working files.
    QStringList hiddenFiles = {};
};

// Where each kind of file dialog starts: the folder of the file last chosen for that kind
// (kept in the settings), else the user's home. Never the program's working folder.
class DialogFolders {
public:
    virtual ~DialogFolders() = default;
    virtual QString startFolder(FileKind kind) const = 0;
    // A file chosen in a dialog of this kind: its folder is where the next one starts.
    virtual void remember(FileKind kind, const QString& chosenFile) = 0;
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen full path, or nothing when the user cancelled.
    virtual std::optional<QString> open(QWidget* owner, const FileDialogRequest& request) = 0;
    virtual std::optional<QString> save(QWidget* owner, const FileDialogRequest& request) = 0;
};

class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    // Opens a web address with the desktop's browser; false when nothing took it.
    virtual bool openUrl(QWidget* owner, const QString& url) = 0;
    // Starts a program in a normal window; false when it could not be started.
    virtual bool startProgram(const QString& program, const QStringList& arguments) = 0;
};

} // namespace chwr
