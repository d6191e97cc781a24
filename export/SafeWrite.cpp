#include "export/SafeWrite.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orv {

int FileSystem::createNew(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

long FileSystem::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int FileSystem::sync(int fd) {
    return ::fsync(fd);
}

int FileSystem::close(int fd) {
    return ::close(fd);
}

int FileSystem::rename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str());
}

int FileSystem::remove(const std::string& path) {
    return ::unlink(path.c_str());
}

void FileSystem::syncDirectory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    (void)::close(fd);
}

FileSystem& realFileSystem() {
    static FileSystem files;  // stateless: every call goes straight to the system
    return files;
}

SafeFile::SafeFile(const std::filesystem::path& target, FileSystem& files) : files_(files), target_(target.string()) {
    const std::filesystem::path name = target.filename();
    if (name.empty() || name == "." || name == "..") {
        error_ = std::make_error_code(std::errc::is_a_directory);
        return;
    }
    const std::filesystem::path parent = target.parent_path();
    directory_ = parent.empty() ? std::string(".") : parent.string();
    // A hidden name next to the target; the target's own name is shortened so that a name close
    // to the file system's limit still leaves room for the suffix.
    const std::string base = name.string().substr(0, 200);
    const std::string stem = (parent / ("." + base)).string() + "." + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = stem + std::to_string(attempt) + ".tmp";
        fd_ = files_.createNew(temporary_);
        if (fd_ >= 0) return;
        if (errno != EEXIST) break;
    }
    const int why = errno;
    temporary_.clear();
    failWithErrno(why);
}

SafeFile::~SafeFile() {
    if (!committed_) discard();
}

void SafeFile::failWithErrno(int errnoValue) {
    fail(std::error_code(errnoValue != 0 ? errnoValue : EIO, std::generic_category()));
}

void SafeFile::fail(std::error_code why) {
    if (!error_) error_ = why;
    discard();
}

void SafeFile::discard() {
    if (fd_ >= 0) {
        (void)files_.close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        (void)files_.remove(temporary_);
        temporary_.clear();
    }
}

bool SafeFile::write(const void* data, std::size_t size) {
    if (error_ || committed_) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const long written = files_.write(fd_, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            failWithErrno(errno);
            return false;
        }
        if (written == 0) {  // no progress on a regular file: the disk is full
            failWithErrno(ENOSPC);
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool SafeFile::commit() {
    if (error_ || committed_) return false;
    if (files_.sync(fd_) != 0) {
        failWithErrno(errno);
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (files_.close(fd) != 0) {  // delayed write errors (network or quota) show up here
        failWithErrno(errno);
        return false;
    }
    if (files_.rename(temporary_, target_) != 0) {
        failWithErrno(errno);
        return false;
    }
    temporary_.clear();
    committed_ = true;
    files_.syncDirectory(directory_);
    return true;
}

std::error_code writeFileSafely(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                                FileSystem& files) {
    SafeFile file(target, files);
    if (file.write(bytes)) file.commit();
    return file.error();
}

std::error_code writeFileSafely(const std::filesystem::path& target, std::string_view text, FileSystem& files) {
    return writeFileSafely(target, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), files);
}

std::string writeErrorReason(std::error_code error) {
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        switch (error.value()) {
            case ENOENT:
                return "no such directory";
            case ENOTDIR:
                return "a part of the path is not a directory";
            case EACCES:
            case EPERM:
                return "permission denied";
            case EROFS:
                return "read-only file system";
            case ENOSPC:
                return "disk full";
            case EDQUOT:
                return "disk quota exceeded";
            case EFBIG:
                return "file too large";
            case EISDIR:
                return "a directory has that name";
            case ENAMETOOLONG:
                return "file name too long";
            case ENOMEM:
                return "out of memory";
            case EINVAL:
                return "invalid file name";
            case EIO:
                return "input/output error";
            default:
                break;
        }
    }
    std::string text = error.message();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace orv
