#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <limits>

namespace chwr {

// Every file operation that can replace or create a user's file goes through here,
// so that tests can make any single step fail.
enum class FileOp { OpenRead, Read, OpenWrite, Write, Sync, Close, Rename, Remove, Copy, Link };

const char* fileOpName(FileOp op);

// Tests install a hook that returns an errno value (non-zero) to make the operation on
// that path fail as if the system had refused it. An empty hook turns injection off.
using FileFaultHook = std::function<int(FileOp, const std::filesystem::path&)>;
void setFileFaultHook(FileFaultHook hook);
// The errno the hook asks for, 0 when the operation may go ahead.
int injectedFault(FileOp op, const std::filesystem::path& path);

// Reads a whole file. A file larger than maxBytes is refused without being read.
Result<Bytes> readFileBytes(const std::filesystem::path& path,
                            std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// An output file opened for writing from the start. Move-only; close() reports
// failure, the destructor only releases the descriptor.
class OutputFile {
public:
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
    OutputFile(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}
    int m_fd = -1;
    std::filesystem::path m_path;
};

// Writes a file so that a reader sees either the old file or the whole new one: the
// bytes go to a temporary file in the same folder, are flushed, and the temporary file
// is renamed over the target. Until commit() succeeds nothing at the target changes;
// a writer destroyed uncommitted removes its temporary file.
class AtomicFileWriter {
public:
    static Result<AtomicFileWriter> create(const std::filesystem::path& target);

    AtomicFileWriter(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter& operator=(AtomicFileWriter&& other) noexcept;
    ~AtomicFileWriter();

    Result<void> write(ByteView bytes);
    // Flushes and closes the temporary file and renames it into place.
    Result<void> commit();
    // Flushes and closes the temporary file without renaming it, so a caller can do
    // other work (a backup) before moving it into place with commitPrepared().
    Result<void> prepare();
    Result<void> commitPrepared();

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
};

// The whole file at once, through AtomicFileWriter.
Result<void> writeFileAtomic(const std::filesystem::path& target, ByteView bytes);

// rename(2) and remove through the fault seam, with messages that name the files.
Result<void> renameFile(const std::filesystem::path& from, const std::filesystem::path& to);
Result<void> removeFile(const std::filesystem::path& path);
// Copies a file's bytes to a new file written atomically (the copy is flushed).
Result<void> copyFileAtomic(const std::filesystem::path& from, const std::filesystem::path& to);
// Makes `to` the file `from` is now, at no copy: a hard link made under a temporary
// name and renamed over `to`, so an old `to` is replaced whole or not at all. Where the
// file system keeps no links (FAT, some network shares) it copies instead. Once `from`
// is replaced by a rename, `to` keeps the old file's bytes.
Result<void> linkOrCopyFile(const std::filesystem::path& from, const std::filesystem::path& to);

// "the system's own words" for an errno value, such as "No space left on device".
std::string systemMessage(int error);

}  // namespace chwr
