#include "shell/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// The temporary file of a write is ".chwr-" and six characters beside its target: a
// name of its own, so a target name of any legal length never makes it too long.
constexpr const char* kTemporaryPrefix = ".chwr-";
constexpr std::size_t kTemporarySuffixLength = 6;
// Names tried before giving up when each is taken (36^6 names: a clash is rare).
constexpr int kTemporaryNameAttempts = 8;
// The pause between two tries of a folder lock that another writer holds.
constexpr std::chrono::milliseconds kLockRetryInterval{25};
// Symbolic links followed to the file a write replaces, as the system's own limit.
constexpr int kMaxLinkHops = 40;
// The permission bits a new file takes over (with set-ID and sticky bits).
constexpr mode_t kPermissionBits = 07777;

FileFaultHook& faultHook()
{
    static FileFaultHook hook;
    return hook;
}

Error failure(const char* what, const fs::path& path, int error)
{
    return Error{std::string(what) + " \"" + path.string() + "\": " + systemMessage(error)};
}

// A step on the temporary file that failed, told as a failure to write the target: the
// user chose the target and never sees the temporary file. The system's reason follows
// the last quoted path of the step's message.
Error asWriteOf(const fs::path& target, const std::string& message)
{
    const std::size_t quoted = message.rfind("\": ");
    return Error{"Cannot write \"" + target.string() +
                 "\": " + (quoted == std::string::npos ? message : message.substr(quoted + 3))};
}

// "Cannot read "X": it is a named pipe (FIFO), not a file."
Error notAFile(const char* what, const fs::path& path, mode_t mode)
{
    const char* kind = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a named pipe (FIFO)"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                 ? "a socket"
                                                        : "something other than a file";
    return Error{std::string(what) + " \"" + path.string() + "\": it is " + kind + ", not a file."};
}

FileIdentity identityOf(const struct stat& info)
{
    constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                        static_cast<std::int64_t>(info.st_size),
                        static_cast<std::int64_t>(info.st_mtim.tv_sec) * nanosecondsPerSecond +
                            info.st_mtim.tv_nsec};
}

std::string randomSuffix()
{
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(kTemporarySuffixLength, '0');
    for (char& c : suffix)
        c = digits[generator() % (sizeof(digits) - 1)];
    return suffix;
}

fs::path temporaryBeside(const fs::path& target)
{
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    return folder / (kTemporaryPrefix + randomSuffix());
}

// Gives the new file behind fd the owner, group and mode of `source`. A user may not
// give a file away, nor may some file systems (FAT) keep modes: where the system says
// EPERM the new file stays the user's own, as any file the user writes.
Result<void> takeModeOf(int fd, const fs::path& path, const struct stat& source)
{
    if (int e = injectedFault(FileOp::Chmod, path))
        return failure("Cannot set the mode of", path, e);
    struct stat own {};
    if (::fstat(fd, &own) != 0)
        return failure("Cannot set the mode of", path, errno);
    // The owner first: a change of owner clears set-ID bits that the mode then restores.
    if (own.st_uid != source.st_uid || own.st_gid != source.st_gid) {
        if (::fchown(fd, source.st_uid, source.st_gid) != 0) {
            if (errno != EPERM)
                return failure("Cannot set the owner of", path, errno);
            if (own.st_gid != source.st_gid && ::fchown(fd, static_cast<uid_t>(-1), source.st_gid) != 0 &&
                errno != EPERM)
                return failure("Cannot set the group of", path, errno);
        }
    }
    if (::fchmod(fd, source.st_mode & kPermissionBits) != 0 && errno != EPERM)
        return failure("Cannot set the mode of", path, errno);
    return {};
}

// The whole file at once, with the mode of modeFrom when given.
Result<void> writeWhole(const fs::path& target, ByteView bytes, const fs::path& modeFrom)
{
    Result<AtomicFileWriter> writer = AtomicFileWriter::create(target, modeFrom);
    if (!writer)
        return Error{writer.error()};
    if (auto written = writer->write(bytes); !written)
        return written;
    return writer->commit();
}

Result<void> copyFile(const fs::path& from, const fs::path& to, const fs::path& modeFrom)
{
    if (int e = injectedFault(FileOp::Copy, to))
        return Error{"Cannot copy \"" + from.string() + "\" to \"" + to.string() + "\": " + systemMessage(e)};
    Result<Bytes> bytes = readFileBytes(from);
    if (!bytes)
        return Error{bytes.error()};
    return writeWhole(to, *bytes, modeFrom);
}

} // namespace

const char* fileOpName(FileOp op)
{
    switch (op) {
    case FileOp::OpenRead:
        return "open for reading";
    case FileOp::Read:
        return "read";
    case FileOp::OpenWrite:
        return "open for writing";
    case FileOp::Write:
        return "write";
    case FileOp::Sync:
        return "flush";
    case FileOp::Close:
        return "close";
    case FileOp::Rename:
        return "rename";
    case FileOp::Remove:
        return "remove";
    case FileOp::Copy:
        return "copy";
    case FileOp::Link:
        return "link";
    case FileOp::Lock:
        return "lock";
    case FileOp::SyncFolder:
        return "flush the folder";
    case FileOp::Chmod:
        return "set the mode";
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

Result<FileIdentity> fileIdentity(const fs::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return failure("Cannot examine", path, errno);
    return identityOf(info);
}

Result<Bytes> readFileBytes(const fs::path& path, std::size_t maxBytes, FileIdentity* identity)
{
    if (int e = injectedFault(FileOp::OpenRead, path))
        return failure("Cannot open", path, e);
    // Something other than a file is refused before it is opened: opening a device can
    // do something of its own, and a named pipe waits for a writer.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return notAFile("Cannot read", path, info.st_mode);
    // O_NONBLOCK: a named pipe put there since is still opened without waiting.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return failure("Cannot open", path, errno);
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    if (::fstat(fd, &info) != 0)
        return failure("Cannot read", path, errno);
    if (!S_ISREG(info.st_mode))
        return notAFile("Cannot read", path, info.st_mode);
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes)
        return Error{"\"" + path.string() + "\" is larger than " + std::to_string(maxBytes) + " bytes"};
    if (identity)
        *identity = identityOf(info);

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

Result<fs::path> resolveWriteTarget(const fs::path& path)
{
    std::error_code error;
    fs::path target = fs::absolute(path, error);
    // A missing file is no error here: the write makes it.
    auto isLink = [&] {
        const fs::file_type type = fs::symlink_status(target, error).type();
        if (type == fs::file_type::not_found)
            error.clear();
        return type == fs::file_type::symlink;
    };
    for (int hops = 0; !error && isLink(); ++hops) {
        if (hops == kMaxLinkHops)
            return failure("Cannot write", path, ELOOP);
        const fs::path link = fs::read_symlink(target, error);
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    if (!error)
        target = fs::weakly_canonical(target, error);
    if (error)
        return failure("Cannot find where to write", path, error.value());
    return target;
}

Result<void> checkNotWritingOver(const fs::path& output, const fs::path& input, std::string_view inputName)
{
    std::error_code error;
    if (fs::equivalent(output, input, error)) {
        return Error{"\"" + output.string() + "\" is " + std::string(inputName) +
                     " itself; nothing was written. Choose another file."};
    }
    return {};
}

Result<FolderLock> FolderLock::acquire(const fs::path& folder, const std::string& busyMessage,
                                       std::chrono::milliseconds wait)
{
    if (int e = injectedFault(FileOp::Lock, folder))
        return failure("Cannot lock the folder", folder, e);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return failure("Cannot lock the folder", folder, errno);
    FolderLock lock(fd, folder);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return lock;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return failure("Cannot lock the folder", folder, errno);
        if (std::chrono::steady_clock::now() >= deadline)
            return Error{busyMessage};
        std::this_thread::sleep_for(kLockRetryInterval);
    }
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_folder(std::move(other.m_folder))
{
}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_folder = std::move(other.m_folder);
    }
    return *this;
}

FolderLock::~FolderLock()
{
    // Closing the last descriptor of the open folder releases the lock.
    if (m_fd >= 0)
        ::close(m_fd);
}

Result<void> syncFolder(const fs::path& folder)
{
    const char* what = "Cannot flush to the disk the folder";
    if (int e = injectedFault(FileOp::SyncFolder, folder))
        return failure(what, folder, e);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        // A folder the user may write in but not list cannot be opened to be flushed.
        if (errno == EACCES)
            return {};
        return failure(what, folder, errno);
    }
    int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems (FUSE, some network shares) cannot flush a folder: EINVAL.
    if (rc != 0 && error != EINVAL)
        return failure(what, folder, error);
    return {};
}

Result<OutputFile> OutputFile::create(const fs::path& path)
{
    if (int e = injectedFault(FileOp::OpenWrite, path))
        return failure("Cannot create", path, e);
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return notAFile("Cannot write", path, info.st_mode);
    // O_NONBLOCK: a named pipe put there since is refused below instead of waited on.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return failure("Cannot create", path, errno);
    OutputFile file(fd, path);
    if (::fstat(fd, &info) != 0)
        return failure("Cannot create", path, errno);
    if (!S_ISREG(info.st_mode))
        return notAFile("Cannot write", path, info.st_mode);
    return file;
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
    : m_file(std::move(other.m_file)), m_target(std::move(other.m_target)),
      m_temporary(std::move(other.m_temporary)), m_prepared(other.m_prepared),
      m_done(std::exchange(other.m_done, true)), m_inPlace(other.m_inPlace)
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
        m_inPlace = other.m_inPlace;
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

Result<AtomicFileWriter> AtomicFileWriter::create(const fs::path& target, const fs::path& modeFrom)
{
    Result<fs::path> resolved = resolveWriteTarget(target);
    if (!resolved)
        return Error{resolved.error()};
    struct stat replaced {};
    bool takesMode = ::stat(resolved->c_str(), &replaced) == 0;
    if (takesMode && !S_ISREG(replaced.st_mode))
        return notAFile("Cannot write", target, replaced.st_mode);
    if (!modeFrom.empty())
        takesMode = ::stat(modeFrom.c_str(), &replaced) == 0;

    fs::path temporary;
    int fd = -1;
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
        temporary = temporaryBeside(*resolved);
        error = injectedFault(FileOp::OpenWrite, temporary);
        if (error == 0) {
            fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            error = fd < 0 ? errno : 0;
        }
    }
    if (error != 0)
        return failure("Cannot write", target, error);
    AtomicFileWriter writer(OutputFile(fd, temporary), *resolved, temporary);
    if (takesMode) {
        if (auto kept = takeModeOf(fd, temporary, replaced); !kept)
            return asWriteOf(target, kept.error());
    }
    return writer;
}

Result<void> AtomicFileWriter::write(ByteView bytes)
{
    if (m_done || m_prepared)
        return Error{"The file \"" + m_target.string() + "\" is no longer open for writing"};
    if (auto written = m_file.write(bytes); !written)
        return asWriteOf(m_target, written.error());
    return {};
}

Result<void> AtomicFileWriter::prepare()
{
    if (m_done)
        return Error{"The file \"" + m_target.string() + "\" was already written"};
    if (m_prepared)
        return {};
    if (auto synced = m_file.sync(); !synced) {
        discard();
        return asWriteOf(m_target, synced.error());
    }
    if (auto closed = m_file.close(); !closed) {
        discard();
        return asWriteOf(m_target, closed.error());
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
        return asWriteOf(m_target, renamed.error());
    }
    m_done = true;
    m_inPlace = true;
    if (auto synced = syncFolder(m_target.parent_path()); !synced) {
        return Error{"\"" + m_target.string() +
                     "\" was written, but may not survive a power cut: " + synced.error()};
    }
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
    return writeWhole(target, bytes, {});
}

Result<void> renameFile(const fs::path& from, const fs::path& to)
{
    if (int e = injectedFault(FileOp::Rename, to))
        return Error{"Cannot move \"" + from.string() + "\" to \"" + to.string() + "\": " + systemMessage(e)};
    if (::rename(from.c_str(), to.c_str()) != 0)
        return Error{"Cannot move \"" + from.string() + "\" to \"" + to.string() +
                     "\": " + systemMessage(errno)};
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
    return copyFile(from, to, {});
}

Result<void> linkOrCopyFile(const fs::path& from, const fs::path& to)
{
    Result<fs::path> target = resolveWriteTarget(to);
    if (!target)
        return Error{target.error()};
    std::error_code same;
    if (fs::equivalent(from, *target, same))
        return {};
    struct stat replaced {};
    if (::stat(target->c_str(), &replaced) == 0 && !S_ISREG(replaced.st_mode))
        return notAFile("Cannot write", to, replaced.st_mode);

    fs::path temporary;
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && error == EEXIST; ++attempt) {
        temporary = temporaryBeside(*target);
        error = injectedFault(FileOp::Link, temporary);
        // AT_SYMLINK_FOLLOW: a link to `from` is a link to the file it names.
        if (error == 0 &&
            ::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
            error = errno;
    }
    switch (error) {
    case 0:
        break;
    // The file system has no hard links, or none more for this file: a copy does, with
    // the mode the link would have kept.
    case EPERM:
    case EXDEV:
    case EMLINK:
    case ENOSYS:
    case EOPNOTSUPP:
        return copyFile(from, *target, from);
    default:
        return Error{"Cannot link \"" + from.string() + "\" as \"" + to.string() +
                     "\": " + systemMessage(error)};
    }
    if (auto renamed = renameFile(temporary, *target); !renamed) {
        ::unlink(temporary.c_str());
        return renamed;
    }
    if (auto synced = syncFolder(target->parent_path()); !synced)
        return Error{"\"" + target->string() +
                     "\" was made, but may not survive a power cut: " + synced.error()};
    return {};
}

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
