#include "shell/file_patch.h"

#include "shell/file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace chwr {

namespace {

Error failure(const char* what, const std::filesystem::path& path, int error)
{
    return Error{std::string(what) + " \"" + path.string() + "\": " + systemMessage(error)};
}

} // namespace

Result<void> overwriteFileBytes(const std::filesystem::path& path, std::uint64_t offset, ByteView bytes)
{
    if (int e = injectedFault(FileOp::OpenWrite, path))
        return failure("Cannot open", path, e);
    // No O_CREAT and no O_TRUNC: only the bytes named change.
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return failure("Cannot open", path, errno);
    Result<void> written;
    while (!bytes.empty()) {
        if (int e = injectedFault(FileOp::Write, path)) {
            written = failure("Cannot write", path, e);
            break;
        }
        ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            written = failure("Cannot write", path, errno);
            break;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    int injected = injectedFault(FileOp::Close, path);
    int closed = ::close(fd);
    if (!written)
        return written;
    if (injected)
        return failure("Cannot close", path, injected);
    if (closed != 0)
        return failure("Cannot close", path, errno);
    return {};
}

} // namespace chwr
