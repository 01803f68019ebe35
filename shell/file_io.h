#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace chwr {

// Every file operation that can replace or create a user's file goes through here,
// so that tests can make any single step fail.
enum class FileOp {
    OpenRead,
    Read,
    OpenWrite,
    Write,
    Sync,
    Close,
    Rename,
    Remove,
    Copy,
    Link,
    // Taking the write lock of a folder.
    Lock,
    // Flushing a folder after a rename, so the new name survives a power cut.
    SyncFolder,
    // Giving a new file the mode (and owner) of the file it replaces.
    Chmod,
};

const char* fileOpName(FileOp op);

// Tests install a hook that returns an errno value (non-zero) to make the operation on
// that path fail as if the system had refused it. An empty hook turns injection off.
using FileFaultHook = std::function<int(FileOp, const std::filesystem::path&)>;
void setFileFaultHook(FileFaultHook hook);
// The errno the hook asks for, 0 when the operation may go ahead.
int injectedFault(FileOp op, const std::filesystem::path& path);

// What tells one state of a file on disk from another: a file replaced by a rename has
// another inode, one written in place another size or modification time.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file at a path (links followed).
Result<FileIdentity> fileIdentity(const std::filesystem::path& path);

// Reads a whole file. A file larger than maxBytes is refused without being read. Only
// ordinary files are read: a folder, named pipe, device or socket is refused at once
// with what it is, and opening never waits for a writer. `identity`, when given,
// receives the identity of the file that was read.
Result<Bytes> readFileBytes(const std::filesystem::path& path,
                            std::size_t maxBytes = std::numeric_limits<std::size_t>::max(),
                            FileIdentity* identity = nullptr);

// The file a write to `path` replaces: symbolic links are followed, so a link is
// written where it points and keeps pointing there, and the temporary file goes beside
// the file itself. The path is made absolute; a missing file resolves to the path it
// would have.
Result<std::filesystem::path> resolveWriteTarget(const std::filesystem::path& path);

// Refuses a write whose target is the file it reads from (the same file on disk, links
// followed): "OUTPUT" is INPUTNAME itself; nothing was written.
Result<void> checkNotWritingOver(const std::filesystem::path& output, const std::filesystem::path& input,
                                 std::string_view inputName);

// How long a writer waits for another program's write of the same file to end.
inline constexpr std::chrono::milliseconds kWriteLockWait{5000};

// An advisory lock (flock) on a folder, held while the object lives. Writers of a file
// that is replaced by renames take it on the file's folder from their read to their
// rename: a lock on the file itself would stay with the old file once the new one is
// renamed into place, and a lock file would be one more file in the user's folder. A
// writer that finds the lock taken tries again every few milliseconds for `wait`, then
// is refused with `busyMessage`.
class FolderLock {
public:
    static Result<FolderLock> acquire(const std::filesystem::path& folder, const std::string& busyMessage,
                                      std::chrono::milliseconds wait = kWriteLockWait);

    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

    const std::filesystem::path& folder() const { return m_folder; }

private:
    FolderLock(int fd, std::filesystem::path folder) : m_fd(fd), m_folder(std::move(folder)) {}
    int m_fd = -1;
    std::filesystem::path m_folder;
};

// Flushes a folder's entries to the disk (after a rename in it).
Result<void> syncFolder(const std::filesystem::path& folder);

// An output file opened for writing from the start. Move-only; close() reports
// failure, the destructor only releases the descriptor.
class OutputFile {
public:
    // Opens the file, created or emptied. Something other than an ordinary file there
    // (a folder, named pipe, device) is refused at once.
    static Result<OutputFile> create(const std::filesystem::path& path);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    Result<void> write(ByteView bytes);
    // Flushes the data to the disk.
    Result<void> sync();
    Result<void> close();
    bool isOpen() const { return m_fd >= 0; }
    const std::filesystem::path& path() const { return m_path; }

private:
    friend class AtomicFileWriter;
    OutputFile(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}
    int m_fd = -1;
    std::filesystem::path m_path;
};

// Writes a file so that a reader sees either the old file or the whole new one: the
// bytes go to a temporary file (".chwr-" and six characters, short enough beside any
// name) in the target's folder, are flushed, and the temporary file is renamed over the
// target, then the folder is flushed. The target is the file a symbolic link points to;
// the new file gets the mode, and where the system permits the owner and group, of the
// file it replaces (or of `modeFrom` when given). A target that is no ordinary file is
// refused. Until commit() succeeds nothing at the target changes; a writer destroyed
// uncommitted removes its temporary file.
class AtomicFileWriter {
public:
    static Result<AtomicFileWriter> create(const std::filesystem::path& target,
                                           const std::filesystem::path& modeFrom = {});

    AtomicFileWriter(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter& operator=(AtomicFileWriter&& other) noexcept;
    ~AtomicFileWriter();

    Result<void> write(ByteView bytes);
    // Flushes and closes the temporary file and renames it into place.
    Result<void> commit();
    // Flushes and closes the temporary file without renaming it, so a caller can do
    // other work (a backup) before moving it into place with commitPrepared().
    Result<void> prepare();
    // Renames the file into place and flushes the folder. When only the flush fails,
    // the new file is in place all the same: inPlace() tells the two failures apart.
    Result<void> commitPrepared();
    bool inPlace() const { return m_inPlace; }

    const std::filesystem::path& target() const { return m_target; }
    const std::filesystem::path& temporaryPath() const { return m_temporary; }

private:
    AtomicFileWriter(OutputFile file, std::filesystem::path target, std::filesystem::path temporary);
    void discard();

    OutputFile m_file;
    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    bool m_prepared = false;
    bool m_done = false;
    bool m_inPlace = false;
};

// The whole file at once, through AtomicFileWriter.
Result<void> writeFileAtomic(const std::filesystem::path& target, ByteView bytes);

// rename(2) and remove through the fault seam, with messages that name the files.
Result<void> renameFile(const std::filesystem::path& from, const std::filesystem::path& to);
Result<void> removeFile(const std::filesystem::path& path);
// Copies a file's bytes to a new file written atomically (the copy is flushed). The
// copy gets the mode of the `to` it replaces.
Result<void> copyFileAtomic(const std::filesystem::path& from, const std::filesystem::path& to);
// Makes `to` the file `from` is now, at no copy: a hard link made under a temporary
// name and renamed over `to`, so an old `to` is replaced whole or not at all, then the
// folder is flushed. Where the file system keeps no links (FAT, some network shares) it
// copies instead, with the mode of `from`. Once `from` is replaced by a rename, `to`
// keeps the old file's bytes. Nothing is done when `to` is already `from` (one file).
Result<void> linkOrCopyFile(const std::filesystem::path& from, const std::filesystem::path& to);

// "the system's own words" for an errno value, such as "No space left on device".
std::string systemMessage(int error);

// Writes bytes over those of an existing file at offset and leaves the rest as it is:
// for a count in a header that is known only once the file is written. Goes through the
// fault seam above as an open for writing, writes and a close; the
// messages name the file and the system's reason.
Result<void> overwriteFileBytes(const std::filesystem::path& path, std::uint64_t offset, ByteView bytes);

} // namespace chwr
