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
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "io/ByteSink.hpp"

namespace orv {

// A directory that files are made in, open for as long as a write needs it: the temporary file
// is made, renamed and removed relative to it, so that a directory moved away in the meantime
// still has its own file put in place or cleaned away, and a path near the system's length limit
// still leaves room for the temporary file's name.
struct OpenDirectory {
    int fd = -1;
    std::string path;  // as it was named: for messages
    OpenDirectory(int descriptor, std::string name) : fd(descriptor), path(std::move(name)) {}
    ~OpenDirectory();
    OpenDirectory(const OpenDirectory&) = delete;
    OpenDirectory& operator=(const OpenDirectory&) = delete;
};

// The file-system calls a safe write makes, with the POSIX conventions: -1 and errno on
// failure. The real one passes them to the system; tests derive from it to make calls fail.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens a directory to make files in; a descriptor, or -1.
    virtual int openDirectory(const std::string& path);
    // Creates a new file in a directory for writing (it must not exist yet); a descriptor, or -1.
    virtual int createNew(const OpenDirectory& directory, const std::string& name);
    // Opens an existing device, FIFO or socket for writing, without truncating or creating it.
    virtual int openExisting(const std::string& path);
    // Writes up to size bytes; how many were written, or -1.
    virtual long write(int fd, const void* data, std::size_t size);
    virtual int sync(int fd);
    virtual int close(int fd);
    // Renames a file of a directory over another name in it.
    virtual int rename(const OpenDirectory& directory, const std::string& from, const std::string& to);
    virtual int remove(const OpenDirectory& directory, const std::string& name);
    // Flushes a directory's entries (after a rename); failures here are not errors.
    virtual void syncDirectory(const OpenDirectory& directory);
    // Flushes everything written to the file system that holds the directory (syncfs).
    virtual int syncFileSystem(const OpenDirectory& directory);
    // Opens a regular file for appending (O_APPEND), creating it when missing; a descriptor,
    // or -1.
    virtual int openAppending(const std::string& path);
    // stat (followLinks) or lstat.
    virtual int status(const std::string& path, struct stat& info, bool followLinks);
    // The text of a symbolic link.
    virtual int readLink(const std::string& path, std::string& target);
    // Sets the permission bits of an open file.
    virtual int setMode(int fd, mode_t mode);
    // Cuts an open regular file to length bytes.
    virtual int truncate(int fd, off_t length);
};

// The system's own file calls. It holds no state.
FileSystem& realFileSystem();

// Whether "-" names standard output or a file called "-".
enum class Dash { isAFile, isStandardOutput };

// How a target is written.
enum class WriteMode {
    replaced,        // through a temporary file renamed over the (final) target
    direct,          // a device, FIFO or socket, written as it is
    standardOutput,  // "-"
};

// Reasons of the safe write's own, beside the system's errno values.
enum class OutputError {
    blockDevice = 1,  // a block device is never written over
    trailingSlash,    // a name that ends in "/" can only be a directory's
};
const std::error_category& outputErrorCategory();
inline std::error_code make_error_code(OutputError e) {
    return {static_cast<int>(e), outputErrorCategory()};
}

class SyncBatch;

// One safe write in progress. Write the bytes, then commit; a SafeFile that is destroyed
// without a successful commit removes its temporary file and leaves the target alone.
class SafeFile : public ByteSink {
public:
    explicit SafeFile(const std::filesystem::path& target, FileSystem& files = realFileSystem(),
                      Dash dash = Dash::isAFile);
    ~SafeFile() override;
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Appends all size bytes; false (and nothing more is written) after any failure.
    bool write(const void* data, std::size_t size) override;
    using ByteSink::write;
    // Flushes, closes and renames the temporary file over the target (a direct write is closed).
    bool commit();
    // Closes the temporary file and hands it to batch, which flushes and renames it with the
    // others (a direct write is closed at once).
    bool commit(SyncBatch& batch);
    // Abandons the write: closes and removes the temporary file, keeping the first error.
    void fail(std::error_code why);

    // The first failure: an errno value in the generic category (ENOENT, EACCES, ENOSPC, ...).
    std::error_code error() const override { return error_; }
    WriteMode mode() const { return mode_; }
    // The temporary file's name in the target's directory (empty when there is none).
    std::string temporaryPath() const;
    // The file that is replaced: the target, or the file its symbolic links lead to.
    const std::string& finalPath() const { return final_; }

private:
    void open(const std::string& target, Dash dash);
    void failWithErrno(int errnoValue);
    void discard();

    FileSystem& files_;
    WriteMode mode_ = WriteMode::replaced;
    std::string final_;
    std::shared_ptr<OpenDirectory> directory_;
    std::string finalName_;  // the final file's name in directory_
    std::string temporary_;  // the temporary file's name in directory_
    int slot_ = -1;          // where the temporary file is registered for removal on a signal
    int fd_ = -1;
    bool committed_ = false;
    std::error_code error_;
};

// Safe writes whose flush to the disk is made for all of them at once: flush() flushes each file
// system that holds one of their temporary files (one syncfs each), then renames them over their
// targets in the order they were committed and flushes their directories. Until then their
// targets are untouched; a batch destroyed or failing before that removes the temporary files.
// The files committed between two calls of endGroup() (the files of one map, say) are renamed
// with the signals held, so that an interruption leaves all of them in place or none.
class SyncBatch {
public:
    explicit SyncBatch(FileSystem& files = realFileSystem()) : files_(files) {}
    ~SyncBatch();
    SyncBatch(const SyncBatch&) = delete;
    SyncBatch& operator=(const SyncBatch&) = delete;

    // Ends the group of the files committed since the last call.
    void endGroup() { ++group_; }
    // No error when every file is in place; otherwise the first failure, and failedPath() names
    // the file (the first on a file system that would not flush). The groups renamed before
    // a failure stay; the others are removed.
    std::error_code flush();
    std::size_t size() const { return held_.size(); }
    const std::string& failedPath() const { return failedPath_; }

private:
    friend class SafeFile;
    struct Held {
        std::shared_ptr<OpenDirectory> directory;
        std::string temporary, finalName;  // names in the directory
        std::string finalPath;             // for messages
        int slot;
        std::size_t group;
    };
    void discard();

    FileSystem& files_;
    std::vector<Held> held_;
    std::size_t group_ = 0;
    std::string failedPath_;
};

// A file that lines are appended to, such as a list of the files written. By the output rule,
// except that a regular file (or the file a symbolic link leads to) is appended to, never
// replaced, and created when missing. Each piece goes in one write call with O_APPEND, so that
// pieces that processes append to one regular file at once never mix; a piece cut short (a full
// disk, the file-size limit) is taken back, so that the file never ends in part of a piece. A
// regular file that does not end in a newline when opened (cut short by an older program, or
// by hand) gets one before the first piece.
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
    WriteMode mode_ = WriteMode::replaced;
    int fd_ = -1;
    bool endLineFirst_ = false;
    std::error_code error_;
};

// Writes the whole of bytes to target through a SafeFile; no error on success.
std::error_code writeFileSafely(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                                FileSystem& files = realFileSystem(), Dash dash = Dash::isAFile);
std::error_code writeFileSafely(const std::filesystem::path& target, std::string_view text,
                                FileSystem& files = realFileSystem(), Dash dash = Dash::isAFile);

// A short, lower-case reason for a failed write, fit to follow "could not save ...: ".
std::string writeErrorReason(std::error_code error);

// For the programs' start: every one of the standard descriptors 0, 1 and 2 that is closed is
// opened on /dev/null for reading only. A file the program opens then never gets one of their
// numbers (where messages or "-" would land in it), and writing to a standard output or error
// that was closed fails ("bad file descriptor") instead of going anywhere.
void openClosedStandardDescriptors();

// For the programs' start: SIGINT, SIGTERM and SIGHUP (unless ignored already) remove the
// temporary files of the writes in progress and then end the program as the signal would;
// SIGXFSZ and SIGPIPE are ignored, so that a write beyond the file-size limit or into a closed
// pipe fails with a reason ("file too large", "broken pipe") instead of killing silently.
void prepareSignalsForWriting();

}  // namespace orv

template <>
struct std::is_error_code_enum<orv::OutputError> : std::true_type {};
