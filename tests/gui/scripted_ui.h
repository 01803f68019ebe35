#pragma once

// Scripted stand-ins for the window's platform seams, so the real widgets run offscreen:
// message boxes and dialogs are written down, dialogs answer from a queue, the rest is recorded.

#include "shell/install_handoff.h"
#include "shell/ui/ui_services.h"
#include "shell/ui/window_services.h"

#include <QStringList>

#include <functional>
#include <optional>
#include <ostream>

namespace chwr::test {

class ScriptedUi : public MessageBoxes, public FileDialogs, public DesktopServices, public InstallHandoff {
public:
    // The window's services over this, with players from makePlayer.
    WindowServices services(std::function<std::unique_ptr<MidiPlayer>()> makePlayer)
    {
        return {this, this, this, this, std::move(makePlayer)};
    }

    void show(QWidget*, const QString& text, MessageIcon icon) override
    {
        static const char* const icons[] = {"", "Information: ", "Exclamation: ", "Critical: "};
        const std::string message = icons[static_cast<int>(icon)] + text.toStdString();
        said += (said.empty() ? "" : "\n") + message;
        if (onShow)
            onShow(message);
    }
    // A question is said as "Icon: text [first|second|...]" and answered from replies;
    // one with no reply planned is closed without a button (-1).
    int ask(QWidget* owner, const QString& text, const QStringList& buttons, MessageIcon icon) override
    {
        show(owner, text + " [" + buttons.join('|') + "]", icon);
        return replies.isEmpty() ? -1 : replies.takeFirst();
    }
    std::optional<QString> open(QWidget*, const FileDialogRequest& r) override { return dialog("Open: ", r); }
    std::optional<QString> save(QWidget*, const FileDialogRequest& r) override { return dialog("Save: ", r); }
    bool openUrl(QWidget*, const QString& url) override { return opened.push_back(url), true; }
    bool startProgram(const QString&, const QStringList&) override { return false; }
    Result<std::string> install(const std::filesystem::path&) override
    {
        if (!installRefusal.empty())
            return Error{installRefusal};
        return std::string("Queued for the next HotSync.");
    }

    // The next file dialogs' answers, in order; an empty path cancels its dialog.
    void answer(const std::filesystem::path& p)
    {
        answers.push_back(p.empty() ? QString() : QString::fromStdString(p.string()));
    }

    // Each message as "Icon: text" ("text" alone without an icon), one a line.
    std::string said;
    std::function<void(const std::string&)> onShow; // while a message "is on screen"
    // Each dialog as "Open: title, filter, initial folder, file name" (or "Save: ..."); one
    // shown with no answer planned is cancelled.
    std::vector<std::string> dialogs;
    QStringList opened;         // web pages
    QList<int> replies;         // the buttons the next questions are answered with
    std::string installRefusal; // when set, the hand-off fails with it

private:
    std::optional<QString> dialog(const char* kind, const FileDialogRequest& r)
    {
        dialogs.push_back(
            kind + QStringList{r.title, r.filter, r.initialFolder, r.fileName}.join(", ").toStdString());
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        return answer.isNull() ? std::nullopt : std::optional<QString>(answer);
    }
    QStringList answers; // a null QString cancels
};

} // namespace chwr::test

// Readable QStrings in GoogleTest's failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
