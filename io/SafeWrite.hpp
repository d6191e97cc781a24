#pragma once

// Writing a file so that it is either wholly there or not touched at all, under one rule for
// every file the programs write:
//   - a regular file, or no file: the bytes go to a temporary file next to it, which replaces
//     it only once it has been written in full, flushed to the disk and closed; a file that is
//     replaced keeps its permission bits;
//   - a symbolic link (or a chain of them): the file it finally points to is replaced that way
//     (or created, when the link dangles), and the link stays a link;
//   - a character device, FIFO or socket: written directly, in order, never replaced;
//   - "-", where the caller allows it: standard output, written directly;
//   - a directory, a block device, or a path whose directory is missing: refused.
// A failure on the way removes the temporary file, and whatever file had the target's name
// before stays as it was. A temporary file is removed too when SIGINT, SIGTERM or SIGHUP ends
// the program (see prepareSignalsForWriting).
//
// A write committed into a SyncBatch is flushed later, together with the others of the batch:
// its temporary file is closed at the commit and renamed over the target only once the batch has
// flushed its file system, so that the target is never a file whose bytes may not have reached
// the disk.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace orv {

// The file-system calls a safe write makes, with the POSIX conventions: -1 and errno on
// failure. The real one passes them to the system; tests derive from it to make calls fail.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Creates a new file for writing (it must not exist yet); a descriptor, or -1.
    virtual int createNew(const std::string& path);
    // Opens an existing device, FIFO or socket for writing, without truncating or creating it.
    virtual int openExisting(const std::string& path);
    // Writes up to size bytes; how many were written, or -1.
    virtual long write(int fd, const void* data, std::size_t size);
    virtual int sync(int fd);
    virtual int close(int fd);
    virtual int rename(const std::string& from, const std::string& to);
    virtual int remove(const std::string& path);
    // Flushes a directory's entries (after a rename); failures here are not errors.
    virtual void syncDirectory(const std::string& path);
    // Flushes everything written to the file system that holds path (syncfs).
    virtual int syncFileSystem(const std::string& path);
    // Opens a regular file for appending (O_APPEND), creating it when missing; a descriptor,
    // or -1.
    virtual int openAppending(const std::string& path);
    // stat (followLinks) or lstat.
    virtual int status(const std::string& path, struct stat& info, bool followLinks);
    // The text of a symbolic link.
    virtual int readLink(const std::string& path, std::string& target);
    // Sets the permission bits of an open file.
    virtual int setMode(int fd, mode_t mode);
};

// The system's own file calls. It holds no state.
FileSystem& realFileSystem();

// Whether "-" names standard output or a file called "-".
enum class Dash { isAFile, isStandardOutput };

// How a target is written.
enum class OutputKind {
    replaced,        // through a temporary file renamed over the (final) target
    direct,          // a device, FIFO or socket, written as it is
    standardOutput,  // "-"
};

// Reasons of the safe write's own, beside the system's errno values.
enum class OutputError {
    blockDevice = 1,  // a block device is never written over
};
const std::error_category& outputErrorCategory();
inline std::error_code make_error_code(OutputError e) {
    return {static_cast<int>(e), outputErrorCategory()};
}

class SyncBatch;

// One safe write in progress. Write the bytes, then commit; a SafeFile that is destroyed
// without a successful commit removes its temporary file and leaves the target alone.
class SafeFile {
public:
    explicit SafeFile(const std::filesystem::path& target, FileSystem& files = realFileSystem(),
                      Dash dash = Dash::isAFile);
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Appends all size bytes; false (and nothing more is written) after any failure.
    bool write(const void* data, std::size_t size);
    bool write(std::span<const std::uint8_t> bytes) { return write(bytes.data(), bytes.size()); }
    // Flushes, closes and renames the temporary file over the target (a direct write is closed).
    bool commit();
    // Closes the temporary file and hands it to batch, which flushes and renames it with the
    // others (a direct write is closed at once).
    bool commit(SyncBatch& batch);
    // Abandons the write: closes and removes the temporary file, keeping the first error.
    void fail(std::error_code why);

    bool ok() const { return !error_; }
    // The first failure: an errno value in the generic category (ENOENT, EACCES, ENOSPC, ...).
    std::error_code error() const { return error_; }
    OutputKind kind() const { return kind_; }
    const std::string& temporaryPath() const { return temporary_; }
    // The file that is replaced: the target, or the file its symbolic links lead to.
    const std::string& finalPath() const { return final_; }

private:
    void open(const std::string& target, Dash dash);
    void failWithErrno(int errnoValue);
    void discard();

    FileSystem& files_;
    OutputKind kind_ = OutputKind::replaced;
    std::string final_;
    std::string directory_;
    std::string temporary_;
    int slot_ = -1;  // where the temporary file is registered for removal on a signal
    int fd_ = -1;
    bool committed_ = false;
    std::error_code error_;
};

// Safe writes whose flush to the disk is made for all of them at once: flush() flushes each file
// system that holds one of their temporary files (one syncfs each), then renames them over their
// targets in the order they were committed and flushes their directories. Until then their
// targets are untouched; a batch destroyed or failing before that removes the temporary files.
class SyncBatch {
public:
    explicit SyncBatch(FileSystem& files = realFileSystem()) : files_(files) {}
    ~SyncBatch();
    SyncBatch(const SyncBatch&) = delete;
    SyncBatch& operator=(const SyncBatch&) = delete;

    // No error when every file is in place; otherwise the first failure, and failedPath() names
    // the file (the first on a file system that would not flush). The files renamed before
    // a failure stay; the others are removed.
    std::error_code flush();
    std::size_t size() const { return held_.size(); }
    const std::string& failedPath() const { return failedPath_; }

private:
    friend class SafeFile;
    struct Held {
        std::string temporary, final, directory;
        int slot;
    };
    void discard();

    FileSystem& files_;
    std::vector<Held> held_;
    std::string failedPath_;
};

// A file that lines are appended to, such as a list of the files written. By the output rule,
// except that a regular file (or the file a symbolic link leads to) is appended to, never
// replaced, and created when missing. Each piece goes in one write call with O_APPEND, so that
// pieces that processes append to one regular file at once never mix.
class AppendedFile {
public:
    explicit AppendedFile(const std::filesystem::path& target, FileSystem& files = realFileSystem(),
                          Dash dash = Dash::isAFile);
    ~AppendedFile();
    AppendedFile(const AppendedFile&) = delete;
    AppendedFile& operator=(const AppendedFile&) = delete;

    // Appends text in one write; false (and nothing more is written) after any failure,
    // including a write cut short.
    bool append(std::string_view text);
    // Flushes a regular file to the disk; false on failure.
    bool sync();
    bool ok() const { return !error_; }
    std::error_code error() const { return error_; }

private:
    FileSystem& files_;
    OutputKind kind_ = OutputKind::replaced;
    int fd_ = -1;
    std::error_code error_;
};

// Writes the whole of bytes to target through a SafeFile; no error on success.
std::error_code writeFileSafely(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                                FileSystem& files = realFileSystem(), Dash dash = Dash::isAFile);
std::error_code writeFileSafely(const std::filesystem::path& target, std::string_view text,
                                FileSystem& files = realFileSystem(), Dash dash = Dash::isAFile);

// A short, lower-case reason for a failed write, fit to follow "could not save ...: ".
std::string writeErrorReason(std::error_code error);

// For the programs' start: SIGINT, SIGTERM and SIGHUP (unless ignored already) remove the
// temporary files of the writes in progress and then end the program as the signal would;
// SIGXFSZ and SIGPIPE are ignored, so that a write beyond the file-size limit or into a closed
// pipe fails with a reason ("file too large", "broken pipe") instead of killing silently.
void prepareSignalsForWriting();

}  // namespace orv

template <>
struct std::is_error_code_enum<orv::OutputError> : std::true_type {};
