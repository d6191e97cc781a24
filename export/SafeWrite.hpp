#pragma once

// Writing a file so that it is either wholly there or not touched at all: the bytes go to a
// temporary file next to the target, which replaces the target only once it has been written
// in full, flushed to the disk and closed. A failure on the way removes the temporary file, and
// whatever file had the target's name before stays as it was.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace orv {

// The file-system calls a safe write makes, with the POSIX conventions: -1 and errno on
// failure. The real one passes them to the system; tests derive from it to make calls fail.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Creates a new file for writing (it must not exist yet); a descriptor, or -1.
    virtual int createNew(const std::string& path);
    // Writes up to size bytes; how many were written, or -1.
    virtual long write(int fd, const void* data, std::size_t size);
    virtual int sync(int fd);
    virtual int close(int fd);
    virtual int rename(const std::string& from, const std::string& to);
    virtual int remove(const std::string& path);
    // Flushes a directory's entries (after a rename); failures here are not errors.
    virtual void syncDirectory(const std::string& path);
};

// The system's own file calls. It holds no state.
FileSystem& realFileSystem();

// One safe write in progress. Write the bytes, then commit; a SafeFile that is destroyed
// without a successful commit removes its temporary file and leaves the target alone.
class SafeFile {
public:
    explicit SafeFile(const std::filesystem::path& target, FileSystem& files = realFileSystem());
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Appends all size bytes; false (and nothing more is written) after any failure.
    bool write(const void* data, std::size_t size);
    bool write(std::span<const std::uint8_t> bytes) { return write(bytes.data(), bytes.size()); }
    // Flushes, closes and renames the temporary file over the target.
    bool commit();
    // Abandons the write: closes and removes the temporary file, keeping the first error.
    void fail(std::error_code why);

    bool ok() const { return !error_; }
    // The first failure: an errno value in the generic category (ENOENT, EACCES, ENOSPC, ...).
    std::error_code error() const { return error_; }
    const std::string& temporaryPath() const { return temporary_; }

private:
    void failWithErrno(int errnoValue);
    void discard();

    FileSystem& files_;
    std::string target_;
    std::string directory_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
    std::error_code error_;
};

// Writes the whole of bytes to target through a SafeFile; no error on success.
std::error_code writeFileSafely(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                                FileSystem& files = realFileSystem());
std::error_code writeFileSafely(const std::filesystem::path& target, std::string_view text,
                                FileSystem& files = realFileSystem());

// A short, lower-case reason for a failed write, fit to follow "could not save ...: ".
std::string writeErrorReason(std::error_code error);

}  // namespace orv
