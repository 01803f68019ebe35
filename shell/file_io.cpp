#include "shell/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace chwr {
namespace fs = std::filesystem;

namespace {

FileFaultHook& faultHook()
{
    static FileFaultHook hook;
    return hook;
}

Error failure(const char* what, const fs::path& path, int error)
{
    return Error{std::string(what) + " \"" + path.string() + "\": " + systemMessage(error)};
}

std::string randomSuffix()
{
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(8, '0');
    for (char& c : suffix)
        c = digits[generator() % (sizeof(digits) - 1)];
    return suffix;
}

}  // namespace

const char* fileOpName(FileOp op)
{
    switch (op) {
    case FileOp::OpenRead: return "open for reading";
    case FileOp::Read: return "read";
    case FileOp::OpenWrite: return "open for writing";
    case FileOp::Write: return "write";
    case FileOp::Sync: return "flush";
    case FileOp::Close: return "close";
    case FileOp::Rename: return "rename";
    case FileOp::Remove: return "remove";
    case FileOp::Copy: return "copy";
    case FileOp::Link: return "link";
    }
    return "?";
}

void setFileFaultHook(FileFaultHook hook)
{
    faultHook() = std::move(hook);
}

int injectedFault(FileOp op, const fs::path& path)
{
    const FileFaultHook& hook = faultHook();
    return hook ? hook(op, path) : 0;
}

std::string systemMessage(int error)
{
    return std::strerror(error);
}

Result<Bytes> readFileBytes(const fs::path& path, std::size_t maxBytes)
{
    if (int e = injectedFault(FileOp::OpenRead, path))
        return failure("Cannot open", path, e);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure("Cannot open", path, errno);
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return failure("Cannot read", path, errno);
    if (!S_ISREG(info.st_mode))
        return Error{"\"" + path.string() + "\" is not a file"};
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes)
        return Error{"\"" + path.string() + "\" is larger than " + std::to_string(maxBytes) + " bytes"};

    Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        if (int e = injectedFault(FileOp::Read, path))
            return failure("Cannot read", path, e);
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure("Cannot read", path, errno);
        }
        if (n == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes)
            return Error{"\"" + path.string() + "\" is larger than " + std::to_string(maxBytes) + " bytes"};
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

Result<OutputFile> OutputFile::create(const fs::path& path)
{
    if (int e = injectedFault(FileOp::OpenWrite, path))
        return failure("Cannot create", path, e);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure("Cannot create", path, errno);
    return OutputFile(fd, path);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path))
{
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

OutputFile::~OutputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Result<void> OutputFile::write(ByteView bytes)
{
    if (m_fd < 0)
        return Error{"\"" + m_path.string() + "\" is not open for writing"};
    while (!bytes.empty()) {
        if (int e = injectedFault(FileOp::Write, m_path))
            return failure("Cannot write", m_path, e);
        ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure("Cannot write", m_path, errno);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

Result<void> OutputFile::sync()
{
    if (m_fd < 0)
        return Error{"\"" + m_path.string() + "\" is not open for writing"};
    if (int e = injectedFault(FileOp::Sync, m_path))
        return failure("Cannot flush", m_path, e);
    if (::fsync(m_fd) != 0)
        return failure("Cannot flush", m_path, errno);
    return {};
}

Result<void> OutputFile::close()
{
    if (m_fd < 0)
        return {};
    int fd = std::exchange(m_fd, -1);
    int injected = injectedFault(FileOp::Close, m_path);
    int rc = ::close(fd);
    if (injected)
        return failure("Cannot close", m_path, injected);
    if (rc != 0)
        return failure("Cannot close", m_path, errno);
    return {};
}

AtomicFileWriter::AtomicFileWriter(OutputFile file, fs::path target, fs::path temporary)
    : m_file(std::move(file)), m_target(std::move(target)), m_temporary(std::move(temporary))
{
}

AtomicFileWriter::AtomicFileWriter(AtomicFileWriter&& other) noexcept
    : m_file(std::move(other.m_file)),
      m_target(std::move(other.m_target)),
      m_temporary(std::move(other.m_temporary)),
      m_prepared(other.m_prepared),
      m_done(std::exchange(other.m_done, true))
{
}

AtomicFileWriter& AtomicFileWriter::operator=(AtomicFileWriter&& other) noexcept
{
    if (this != &other) {
        discard();
        m_file = std::move(other.m_file);
        m_target = std::move(other.m_target);
        m_temporary = std::move(other.m_temporary);
        m_prepared = other.m_prepared;
        m_done = std::exchange(other.m_done, true);
    }
    return *this;
}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

void AtomicFileWriter::discard()
{
    if (m_done)
        return;
    m_done = true;
    (void)m_file.close();
    std::error_code ignored;
    fs::remove(m_temporary, ignored);
}

Result<AtomicFileWriter> AtomicFileWriter::create(const fs::path& target)
{
    fs::path folder = target.parent_path();
    fs::path temporary = (folder.empty() ? fs::path(".") : folder) /
                         ("." + target.filename().string() + ".tmp-" + randomSuffix());
    Result<OutputFile> file = OutputFile::create(temporary);
    if (!file)
        return Error{file.error()};
    return AtomicFileWriter(std::move(file).value(), target, temporary);
}

Result<void> AtomicFileWriter::write(ByteView bytes)
{
    if (m_done || m_prepared)
        return Error{"The file \"" + m_target.string() + "\" is no longer open for writing"};
    return m_file.write(bytes);
}

Result<void> AtomicFileWriter::prepare()
{
    if (m_done)
        return Error{"The file \"" + m_target.string() + "\" was already written"};
    if (m_prepared)
        return {};
    if (auto synced = m_file.sync(); !synced) {
        discard();
        return synced;
    }
    if (auto closed = m_file.close(); !closed) {
        discard();
        return closed;
    }
    m_prepared = true;
    return {};
}

Result<void> AtomicFileWriter::commitPrepared()
{
    if (!m_prepared)
        return Error{"The file \"" + m_target.string() + "\" is not ready to be moved into place"};
    if (m_done)
        return Error{"The file \"" + m_target.string() + "\" was already written"};
    if (auto renamed = renameFile(m_temporary, m_target); !renamed) {
        discard();
        return renamed;
    }
    m_done = true;
    return {};
}

Result<void> AtomicFileWriter::commit()
{
    if (auto prepared = prepare(); !prepared)
        return prepared;
    return commitPrepared();
}

Result<void> writeFileAtomic(const fs::path& target, ByteView bytes)
{
    Result<AtomicFileWriter> writer = AtomicFileWriter::create(target);
    if (!writer)
        return Error{writer.error()};
    if (auto written = writer->write(bytes); !written)
        return written;
    return writer->commit();
}

Result<void> renameFile(const fs::path& from, const fs::path& to)
{
    if (int e = injectedFault(FileOp::Rename, to))
        return Error{"Cannot move \"" + from.string() + "\" to \"" + to.string() + "\": " + systemMessage(e)};
    if (::rename(from.c_str(), to.c_str()) != 0)
        return Error{"Cannot move \"" + from.string() + "\" to \"" + to.string() + "\": " + systemMessage(errno)};
    return {};
}

Result<void> removeFile(const fs::path& path)
{
    if (int e = injectedFault(FileOp::Remove, path))
        return failure("Cannot delete", path, e);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return failure("Cannot delete", path, errno);
    return {};
}

Result<void> copyFileAtomic(const fs::path& from, const fs::path& to)
{
    if (int e = injectedFault(FileOp::Copy, to))
        return Error{"Cannot copy \"" + from.string() + "\" to \"" + to.string() + "\": " + systemMessage(e)};
    Result<Bytes> bytes = readFileBytes(from);
    if (!bytes)
        return Error{bytes.error()};
    return writeFileAtomic(to, *bytes);
}

Result<void> linkOrCopyFile(const fs::path& from, const fs::path& to)
{
    const fs::path folder = to.parent_path().empty() ? fs::path(".") : to.parent_path();
    fs::path temporary;
    int error = EEXIST;
    for (int attempt = 0; attempt < 8 && error == EEXIST; ++attempt) {
        temporary = folder / ("." + to.filename().string() + ".tmp-" + randomSuffix());
        error = injectedFault(FileOp::Link, temporary);
        if (error == 0 && ::link(from.c_str(), temporary.c_str()) != 0)
            error = errno;
    }
    switch (error) {
    case 0: break;
    // The file system has no hard links, or none more for this file: a copy does.
    case EPERM:
    case EXDEV:
    case EMLINK:
    case ENOSYS:
    case EOPNOTSUPP: return copyFileAtomic(from, to);
    default:
        return Error{"Cannot link \"" + from.string() + "\" as \"" + to.string() + "\": " + systemMessage(error)};
    }
    if (auto renamed = renameFile(temporary, to); !renamed) {
        ::unlink(temporary.c_str());
        return renamed;
    }
    return {};
}

}  // namespace chwr
