#include "tests/support/scripted_player.h"

#include <algorithm>
#include <cctype>

namespace chwr::test {

namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

} // namespace

Result<void> ScriptedPlayer::command(std::string_view name)
{
    m_calls.emplace_back(name);
    const std::string command = lowerCase(name);
    if (command == "open" || command == "close") {
        m_open = false;
        m_playing = false;
        m_position = 0;
        if (command == "open" && !m_openFailures.empty()) {
            std::string message = std::move(m_openFailures.front());
            m_openFailures.pop_front();
            return Error{message};
        }
        m_open = command == "open";
    } else if (command == "play") {
        m_playing = m_open && m_position < m_length;
    } else if (command == "stop") {
        m_playing = false;
    } else if (command == "prev") {
        m_playing = false;
        m_position = 0;
    } else {
        return Error{"The player knows no command \"" + std::string(name) + "\"."};
    }
    return {};
}

void ScriptedPlayer::setFrom(std::int64_t milliseconds)
{
    m_calls.push_back("From=" + std::to_string(milliseconds));
    if (m_open)
        m_position = std::clamp<std::int64_t>(milliseconds, 0, m_length);
}

void ScriptedPlayer::setPosition(std::int64_t milliseconds)
{
    m_position = std::clamp<std::int64_t>(milliseconds, 0, m_length);
    if (m_position >= m_length)
        m_playing = false;
}

std::vector<std::string> ScriptedPlayer::commands() const
{
    std::vector<std::string> commands;
    for (const std::string& call : m_calls)
        if (call.find('=') == std::string::npos) // not a property set
            commands.push_back(call);
    return commands;
}

} // namespace chwr::test
