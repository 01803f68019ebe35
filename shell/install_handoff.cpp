#include "shell/install_handoff.h"

#include "shell/file_io.h"
#include "shell/hotsync_environment.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace chwr {
namespace fs = std::filesystem;

namespace {

// gnome-pilot's tool only queues the file; one that takes longer than this has hung.
constexpr std::chrono::seconds kInstallToolTimeout{30};
// Output of the tool kept for the message when it fails.
constexpr std::size_t kMaxToolOutputBytes = 4096;
// How often the tool's exit is looked for while it runs.
constexpr std::chrono::milliseconds kExitCheckInterval{20};

std::string quotedPath(const fs::path& path)
{
    return "\"" + path.string() + "\"";
}

// The path as a shell word, for a command the user types.
std::string shellWord(const std::string& text)
{
    if (!text.empty() &&
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+") ==
            std::string::npos)
        return text;
    std::string word = "'";
    for (char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

bool isFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

fs::path findProgram(std::string_view name, const std::string& searchPath)
{
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        std::size_t end = searchPath.find(':', start);
        std::string folder = searchPath.substr(start, end == std::string::npos ? end : end - start);
        if (!folder.empty()) {
            fs::path candidate = fs::path(folder) / name;
            std::error_code error;
            if (fs::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

// Appends what the pipe holds now to the output (up to kMaxToolOutputBytes) without
// waiting; false once the pipe is closed by every writer or cannot be read.
bool readAvailable(int fd, std::string& output)
{
    char buffer[1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        if (n == 0)
            return false;
        std::size_t room = kMaxToolOutputBytes - std::min(output.size(), kMaxToolOutputBytes);
        output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
        // A program that writes without end is not read past the bytes kept.
        if (output.size() >= kMaxToolOutputBytes)
            return true;
    }
}

// Runs a program without a shell, its standard input empty and its output (both
// streams) captured. The run ends when the program exits: a child it leaves behind may
// hold the output open, so the output is read only while the program runs and what is
// left in the pipe at its exit. A program still running after the timeout is killed.
Result<ToolRun> runTool(const std::vector<std::string>& argv)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return Error{"Cannot start " + argv.front() + ": " + systemMessage(errno)};
    // Only the end read here never blocks; the program writes as it would anywhere.
    ::fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int spawned = ::posix_spawn(&pid, argv.front().c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        return Error{"Cannot start " + argv.front() + ": " + systemMessage(spawned)};
    }

    ToolRun run;
    const auto deadline = std::chrono::steady_clock::now() + kInstallToolTimeout;
    bool outputOpen = true;
    bool exited = false;
    int waitError = 0;
    int status = 0;
    for (;;) {
        pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid) {
            exited = true;
            break;
        }
        if (waited < 0 && errno != EINTR) {
            waitError = errno;
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        // The exit is looked for at least this often, whether or not output comes.
        auto slice = std::min(left, kExitCheckInterval);
        if (outputOpen) {
            pollfd readable{pipeEnds[0], POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(slice.count())) > 0)
                outputOpen = readAvailable(pipeEnds[0], run.output);
        } else {
            std::this_thread::sleep_for(slice);
        }
    }
    if (exited && outputOpen)
        readAvailable(pipeEnds[0], run.output);
    ::close(pipeEnds[0]);
    if (waitError != 0)
        return Error{"Cannot learn how " + argv.front() + " ended: " + systemMessage(waitError)};
    if (!exited) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return Error{argv.front() + " did not finish within " + std::to_string(kInstallToolTimeout.count()) +
                     " seconds and was stopped"};
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!run.output.empty() && (run.output.back() == '\n' || run.output.back() == '\r'))
        run.output.pop_back();
    return run;
}

std::string byHand(const fs::path& database)
{
    return std::string(kPilotXferCommand) + " " + shellWord(database.string());
}

class SystemInstallHandoff : public InstallHandoff {
public:
    explicit SystemInstallHandoff(HotSyncEnvironment environment) : m_environment(std::move(environment)) {}

    Result<std::string> install(const fs::path& database) override
    {
        std::error_code error;
        fs::path absolute = fs::absolute(database, error).lexically_normal();
        if (error || !fs::is_regular_file(absolute, error))
            return Error{"There is no ring tone database at " + quotedPath(database) + " to install."};

        if (fs::path jpilot = jpilotFolder(m_environment); hasHome() && isFolder(jpilot))
            return toJPilot(jpilot, absolute);
        if (fs::path kpilot = kpilotFolder(); !kpilot.empty())
            return copyInto(kpilot / kKPilotPendingFolderName, absolute, "KPilot");
        if (fs::path tool = findProgram(kGnomePilotInstallTool, m_environment.searchPath); !tool.empty())
            return toGnomePilot(tool, absolute);
        if (fs::path coldsync = m_environment.home / kColdSyncFolderName; hasHome() && isFolder(coldsync))
            return copyInto(coldsync / kColdSyncInstallFolderName, absolute, "ColdSync");
        return Error{
            "No HotSync tool was found to install the ring tone database (J-Pilot, KPilot, gnome-pilot or "
            "ColdSync). Install " +
            quotedPath(absolute) + " on the handheld with:\n    " + byHand(absolute)};
    }

private:
    bool hasHome() const { return !m_environment.home.empty() || !m_environment.jpilotHome.empty(); }

    // J-Pilot reads the paths in its install list at the next HotSync and rewrites the
    // list when the HotSync ends, so the path is only added while no J-Pilot runs.
    Result<std::string> toJPilot(const fs::path& jpilot, const fs::path& database)
    {
        const std::string line = database.string();
        if (line.find_first_of("\r\n") != std::string::npos)
            return Error{"The path " + quotedPath(database) +
                         " holds a line break, which J-Pilot's install list cannot carry. Move the file and "
                         "install it with J-Pilot's Install dialog."};
        fs::path list = jpilot / kJPilotInstallListName;
        if (m_environment.runningProcesses) {
            for (const RunningProcess& process : m_environment.runningProcesses()) {
                if (process.name == kJPilotProcessName || process.name == kJPilotSyncProcessName)
                    return Error{
                        "J-Pilot is running (" + process.name + ", process " + std::to_string(process.id) +
                        ") and rewrites its install list " + quotedPath(list) + " when a HotSync ends, so " +
                        quotedPath(database) +
                        " was not added to it. Close J-Pilot and install again, or add the file with "
                        "J-Pilot's Install dialog."};
            }
        }

        std::string text;
        std::error_code error;
        if (fs::exists(list, error)) {
            auto bytes = readFileBytes(list);
            if (!bytes)
                return Error{bytes.error()};
            text = asString(*bytes);
        }
        const std::string done = "J-Pilot installs " + quotedPath(database) +
                                 " at the next HotSync. Leave the file where it is until then.";
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            std::string entry = text.substr(start, end == std::string::npos ? end : end - start);
            if (!entry.empty() && entry.back() == '\r')
                entry.pop_back();
            if (entry == line)
                return done;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        if (!text.empty() && text.back() != '\n')
            text += '\n';
        text += line + "\n";
        if (auto written = writeFileAtomic(list, asBytes(text)); !written)
            return Error{written.error()};
        return done;
    }

    fs::path kpilotFolder() const
    {
        std::vector<fs::path> candidates;
        if (!m_environment.dataHome.empty())
            candidates.push_back(m_environment.dataHome / kKPilotDataFolderName);
        if (!m_environment.home.empty()) {
            candidates.push_back(m_environment.home / ".kde" / "share" / "apps" / kKPilotDataFolderName);
            candidates.push_back(m_environment.home / ".kde4" / "share" / "apps" / kKPilotDataFolderName);
        }
        auto found = std::find_if(candidates.begin(), candidates.end(), isFolder);
        return found == candidates.end() ? fs::path() : *found;
    }

    Result<std::string> copyInto(const fs::path& queue, const fs::path& database, const std::string& tool)
    {
        std::error_code error;
        fs::create_directories(queue, error);
        if (error)
            return Error{"Cannot create " + tool + "'s install folder " + quotedPath(queue) + ": " +
                         error.message()};
        fs::path copy = queue / database.filename();
        if (auto copied = copyFileAtomic(database, copy); !copied)
            return Error{copied.error()};
        return tool + " installs the ring tone database at the next HotSync: a copy of it is waiting in " +
               quotedPath(copy) + ".";
    }

    Result<std::string> toGnomePilot(const fs::path& tool, const fs::path& database)
    {
        auto run = runTool({tool.string(), std::string(kGnomePilotLaterOption), database.string()});
        if (!run)
            return Error{run.error() + ". Install " + quotedPath(database) + " by hand with:\n    " +
                         byHand(database)};
        if (run->exitCode != 0)
            return Error{"gnome-pilot did not take " + quotedPath(database) + " (" +
                         std::string(kGnomePilotInstallTool) + " ended with status " +
                         std::to_string(run->exitCode) +
                         (run->output.empty() ? std::string() : ": " + run->output) +
                         "). Install it by hand with:\n    " + byHand(database)};
        return "gnome-pilot installs " + quotedPath(database) +
               " at the next HotSync. Leave the file where it is until then.";
    }

    HotSyncEnvironment m_environment;
};

} // namespace

std::unique_ptr<InstallHandoff> makeInstallHandoff(HotSyncEnvironment environment)
{
    return std::make_unique<SystemInstallHandoff>(std::move(environment));
}

// On Windows, Palm Desktop's install tool takes the file through the desktop's "open";
// that build supplies its own hand-off.
std::unique_ptr<InstallHandoff> makeSystemInstallHandoff()
{
    return makeInstallHandoff(systemHotSyncEnvironment());
}

} // namespace chwr
