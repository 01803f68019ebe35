#include "tests/reliability/fault_steps.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace chwr::test {
namespace fs = std::filesystem;

struct StepFault::State {
    int step = 0;
    int error = 0;
    int seen = 0;
    std::optional<InjectedFault> injected;
};

StepFault::StepFault(int step, int error) : m_state(std::make_shared<State>())
{
    m_state->step = step;
    m_state->error = error;
    setFileFaultHook([state = m_state](FileOp op, const fs::path& path) {
        if (++state->seen != state->step)
            return 0;
        state->injected = InjectedFault{op, path};
        return state->error;
    });
}

StepFault::~StepFault()
{
    release();
}

const std::optional<InjectedFault>& StepFault::injected() const
{
    return m_state->injected;
}

void StepFault::release()
{
    setFileFaultHook({});
}

KindFault::KindFault(std::set<FileOp> ops, int error)
{
    setFileFaultHook(
        [ops = std::move(ops), error](FileOp op, const fs::path&) { return ops.count(op) ? error : 0; });
}

KindFault::~KindFault()
{
    setFileFaultHook({});
}

std::set<FileOp> changingOperations()
{
    return {FileOp::OpenWrite, FileOp::Write, FileOp::Rename, FileOp::Remove, FileOp::Copy, FileOp::Link};
}

std::vector<std::string> temporaryFilesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp-") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

SmallFileSystem::SmallFileSystem(const fs::path& folder, std::size_t kilobytes) : m_folder(folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        m_reason = "cannot mount a " + std::to_string(kilobytes) + " KB tmpfs here (" + std::strerror(errno) +
                   "); it needs root and the right to mount";
        return;
    }
    m_mounted = true;
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted)
        ::umount2(m_folder.c_str(), MNT_DETACH);
}

bool SmallFileSystem::makeReadOnly()
{
    if (!m_mounted)
        return false;
    if (::mount("tmpfs", m_folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        m_reason = std::string("cannot remount the tmpfs read-only (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

std::string errorName(int error)
{
    switch (error) {
    case EIO:
        return "EIO";
    case ENOSPC:
        return "ENOSPC";
    case EROFS:
        return "EROFS";
    case EACCES:
        return "EACCES";
    default:
        return std::to_string(error);
    }
}

} // namespace chwr::test
