#include "tests/gui/scripted_ui.h"

namespace chwr::test {

void ScriptedMessageBoxes::show(QWidget*, const QString& text, MessageIcon icon)
{
    shown.push_back({text, icon});
    if (onShow)
        onShow(shown.back());
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList result;
    for (const auto& message : shown)
        result.push_back(message.text);
    return result;
}

std::optional<QString> ScriptedFileDialogs::open(QWidget*, const FileDialogRequest& request)
{
    return next(DialogKind::Open, request);
}

std::optional<QString> ScriptedFileDialogs::save(QWidget*, const FileDialogRequest& request)
{
    return next(DialogKind::Save, request);
}

std::optional<QString> ScriptedFileDialogs::next(DialogKind kind, const FileDialogRequest& request)
{
    calls.push_back({kind, request});
    if (answers.empty()) {
        ++unexpected;
        return std::nullopt;
    }
    const QString answer = answers.front();
    answers.pop_front();
    if (answer.isNull())
        return std::nullopt;
    return answer;
}

bool ScriptedDesktop::openUrl(QWidget*, const QString& url)
{
    openedUrls.push_back(url);
    return openSucceeds;
}

bool ScriptedDesktop::startProgram(const QString& program, const QStringList& arguments)
{
    started.push_back({program, arguments});
    return startSucceeds;
}

Result<std::string> ScriptedInstallHandoff::install(const std::filesystem::path& database)
{
    installed.push_back(database);
    if (failure)
        return Error{*failure};
    return sentence;
}

WindowServices ScriptedUi::services(std::function<std::unique_ptr<MidiPlayer>()> makePlayer)
{
    WindowServices result;
    result.messages = &messages;
    result.dialogs = &dialogs;
    result.desktop = &desktop;
    result.install = &install;
    result.makePlayer = std::move(makePlayer);
    return result;
}

} // namespace chwr::test
