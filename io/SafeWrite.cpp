#include "io/SafeWrite.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace orv {
namespace {

// The temporary files of the writes in progress, for the signal handler to remove. A handler
// may touch only what is safe to touch at any instant, so this is a fixed table of plain
// character arrays, each guarded by a lock-free atomic state; it is the one piece of state
// shared by the whole process, because signals are.
constexpr int kSlots = 16;
// More, made the first time the sixteen are taken (by the maps a batch run has in flight and
// those waiting for their flush), so that a program writing one file at a time never holds them.
constexpr int kMoreSlots = 1008;
constexpr std::size_t kSlotPath = 4096;
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };
struct TemporarySlot {
    std::atomic<int> state{kFree};
    char path[kSlotPath];
};
TemporarySlot temporarySlots[kSlots];
std::atomic<TemporarySlot*> moreSlots{nullptr};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<TemporarySlot*>::is_always_lock_free);
// Threads between creating (or removing) a temporary file and noting it in the table. They hold
// the signals back, so a signal reaches another thread, whose handler waits for them; once the
// handler has begun (ending), no thread starts such a change again.
std::atomic<int> threadsChangingTemporaries{0};
std::atomic<bool> ending{false};

TemporarySlot& slotAt(int i) {
    return i < kSlots ? temporarySlots[i] : moreSlots.load()[i - kSlots];
}

int registerTemporary(const std::string& path) {
    if (path.size() >= kSlotPath) return -1;
    for (int i = 0; i < kSlots + kMoreSlots; ++i) {
        if (i == kSlots && moreSlots.load() == nullptr) {
            TemporarySlot* made = new (std::nothrow) TemporarySlot[kMoreSlots];
            TemporarySlot* expected = nullptr;
            if (made == nullptr) return -1;
            if (!moreSlots.compare_exchange_strong(expected, made)) delete[] made;  // another thread made them
        }
        int expected = kFree;
        TemporarySlot& slot = slotAt(i);
        if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.state.store(kReady);
        return i;
    }
    return -1;  // all taken: this file is still removed on every failure, only not on a signal
}

void unregisterTemporary(int& slot) {
    if (slot >= 0) slotAt(slot).state.store(kFree);
    slot = -1;
}

extern "C" void removeTemporariesAndDie(int signalNumber) {
    ending.store(true);
    while (threadsChangingTemporaries.load() != 0) {
    }
    for (TemporarySlot& slot : temporarySlots)
        if (slot.state.load() == kReady) (void)::unlink(slot.path);
    if (TemporarySlot* more = moreSlots.load())
        for (int i = 0; i < kMoreSlots; ++i)
            if (more[i].state.load() == kReady) (void)::unlink(more[i].path);
    // End as the signal would have: the parent sees the usual status (128 + the signal).
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// Holds SIGINT, SIGTERM and SIGHUP back while a temporary file comes into being or goes, so
// that the handler never misses one that exists nor removes one that is not ours.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t held;
        sigemptyset(&held);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, s);
        pthread_sigmask(SIG_BLOCK, &held, &previous_);
        threadsChangingTemporaries.fetch_add(1);
        if (ending.load()) {
            // Another thread is removing the temporary files and ending the program: this one
            // waits for the end, making no file the handler would not see.
            threadsChangingTemporaries.fetch_sub(1);
            for (;;) ::pause();
        }
    }
    ~HeldSignals() {
        threadsChangingTemporaries.fetch_sub(1);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t previous_;
};

class OutputCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "output"; }
    std::string message(int value) const override {
        return static_cast<OutputError>(value) == OutputError::blockDevice ? "a block device has that name"
                                                                           : "unknown output error";
    }
};

// Symbolic links followed before giving up, as the system itself does.
constexpr int kMaxLinks = 40;

std::string parentOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool namesNoFile(const std::filesystem::path& path) {
    const std::filesystem::path name = path.filename();
    return name.empty() || name == "." || name == "..";
}

}  // namespace

const std::error_category& outputErrorCategory() {
    static const OutputCategory category;
    return category;
}

int FileSystem::createNew(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int FileSystem::openExisting(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        // A socket cannot be opened, only connected to.
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int why = errno;
            ::close(fd);
            errno = why;
            return -1;
        }
        return fd;
    }
    return ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
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

int FileSystem::syncFileSystem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int result = ::syncfs(fd);
    const int why = errno;
    (void)::close(fd);
    errno = why;
    return result;
}

int FileSystem::openAppending(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
}

int FileSystem::status(const std::string& path, struct stat& info, bool followLinks) {
    return followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
}

int FileSystem::readLink(const std::string& path, std::string& target) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return -1;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(n));
            return 0;
        }
        buffer.resize(buffer.size() * 2);  // possibly cut short: read it again with more room
    }
}

int FileSystem::setMode(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}

FileSystem& realFileSystem() {
    static FileSystem files;  // stateless: every call goes straight to the system
    return files;
}

SafeFile::SafeFile(const std::filesystem::path& target, FileSystem& files, Dash dash) : files_(files) {
    open(target.string(), dash);
}

void SafeFile::open(const std::string& target, Dash dash) {
    final_ = target;
    if (dash == Dash::isStandardOutput && target == "-") {
        kind_ = OutputKind::standardOutput;
        fd_ = STDOUT_FILENO;
        return;
    }
    if (target.empty()) return fail(std::make_error_code(std::errc::invalid_argument));
    if (namesNoFile(target)) return fail(std::make_error_code(std::errc::is_a_directory));

    struct stat info {};
    if (files_.status(target, info, true) == 0) {
        if (S_ISDIR(info.st_mode)) return fail(std::make_error_code(std::errc::is_a_directory));
        if (S_ISBLK(info.st_mode)) return fail(OutputError::blockDevice);
        if (!S_ISREG(info.st_mode)) {
            // A device, FIFO or socket (found through its name, or through links such as
            // /dev/stdout whose text names no file): written as it is, never replaced.
            kind_ = OutputKind::direct;
            fd_ = files_.openExisting(target);
            if (fd_ < 0) failWithErrno(errno);
            return;
        }
    } else if (errno != ENOENT) {
        return failWithErrno(errno);
    }

    // A regular file or none: follow the links to the file that is replaced (or created).
    bool exists = false;
    mode_t mode = 0;
    for (int links = 0;; ++links) {
        if (files_.status(final_, info, false) != 0) {
            if (errno != ENOENT) return failWithErrno(errno);
            break;
        }
        if (!S_ISLNK(info.st_mode)) {
            if (S_ISDIR(info.st_mode)) return fail(std::make_error_code(std::errc::is_a_directory));
            exists = true;
            mode = info.st_mode & 07777;
            break;
        }
        std::string link;
        if (links == kMaxLinks) return failWithErrno(ELOOP);
        if (files_.readLink(final_, link) != 0) return failWithErrno(errno);
        final_ = link.starts_with('/') ? link : (std::filesystem::path(parentOf(final_)) / link).string();
    }
    if (namesNoFile(final_)) return fail(std::make_error_code(std::errc::is_a_directory));

    directory_ = parentOf(final_);
    // A hidden name next to the file replaced; its own name is shortened so that a name close
    // to the file system's limit still leaves room for the suffix.
    const std::string base = std::filesystem::path(final_).filename().string().substr(0, 200);
    const std::string stem =
        (std::filesystem::path(directory_) / ("." + base)).string() + "." + std::to_string(::getpid()) + "-";
    int why = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + std::to_string(attempt) + ".tmp";
        const HeldSignals held;
        fd_ = files_.createNew(name);
        if (fd_ >= 0) {
            temporary_ = name;
            slot_ = registerTemporary(temporary_);
            break;
        }
        why = errno;
        if (why != EEXIST) break;
    }
    if (fd_ < 0) return failWithErrno(why);
    if (exists && files_.setMode(fd_, mode) != 0) failWithErrno(errno);
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
    if (fd_ >= 0 && kind_ != OutputKind::standardOutput) (void)files_.close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        const HeldSignals held;
        (void)files_.remove(temporary_);
        temporary_.clear();
        unregisterTemporary(slot_);
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
    if (kind_ == OutputKind::standardOutput) {
        committed_ = true;
        return true;
    }
    // A device or a pipe has nothing to flush to a disk.
    if (kind_ == OutputKind::replaced && files_.sync(fd_) != 0) {
        failWithErrno(errno);
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (files_.close(fd) != 0) {  // delayed write errors (network or quota) show up here
        failWithErrno(errno);
        return false;
    }
    if (kind_ == OutputKind::replaced) {
        {
            const HeldSignals held;
            if (files_.rename(temporary_, final_) != 0) {
                failWithErrno(errno);
                return false;
            }
            temporary_.clear();
            unregisterTemporary(slot_);
        }
        files_.syncDirectory(directory_);
    }
    committed_ = true;
    return true;
}

bool SafeFile::commit(SyncBatch& batch) {
    if (error_ || committed_ || kind_ != OutputKind::replaced) return commit();
    const int fd = fd_;
    fd_ = -1;
    if (files_.close(fd) != 0) {
        failWithErrno(errno);
        return false;
    }
    // The batch owns the temporary file from here on, its removal on a signal included.
    batch.held_.push_back({temporary_, final_, directory_, slot_});
    temporary_.clear();
    slot_ = -1;
    committed_ = true;
    return true;
}

SyncBatch::~SyncBatch() {
    discard();
}

void SyncBatch::discard() {
    const HeldSignals held;
    for (Held& h : held_) {
        (void)files_.remove(h.temporary);
        unregisterTemporary(h.slot);
    }
    held_.clear();
}

std::error_code SyncBatch::flush() {
    std::error_code error;
    // One flush for each file system (most runs write to one), named by a directory on it.
    std::vector<std::pair<dev_t, const Held*>> systems;
    for (const Held& h : held_) {
        struct stat info {};
        if (files_.status(h.directory, info, true) != 0) info.st_dev = 0;
        if (std::none_of(systems.begin(), systems.end(), [&](const auto& s) { return s.first == info.st_dev; }))
            systems.emplace_back(info.st_dev, &h);
    }
    for (const auto& [device, first] : systems) {
        if (files_.syncFileSystem(first->directory) != 0) {
            error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
            failedPath_ = first->final;  // the first file that could not be flushed
            discard();
            return error;
        }
    }
    std::vector<std::string> directories;
    std::size_t renamed = 0;
    for (; renamed < held_.size(); ++renamed) {
        Held& h = held_[renamed];
        const HeldSignals held;
        if (files_.rename(h.temporary, h.final) != 0) {
            error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
            failedPath_ = h.final;
            break;
        }
        unregisterTemporary(h.slot);
        if (std::find(directories.begin(), directories.end(), h.directory) == directories.end())
            directories.push_back(h.directory);
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(renamed));
    for (const std::string& directory : directories) files_.syncDirectory(directory);
    discard();
    return error;
}

AppendedFile::AppendedFile(const std::filesystem::path& target, FileSystem& files, Dash dash) : files_(files) {
    const std::string name = target.string();
    if (dash == Dash::isStandardOutput && name == "-") {
        kind_ = OutputKind::standardOutput;
        fd_ = STDOUT_FILENO;
        return;
    }
    if (name.empty()) {
        error_ = std::make_error_code(std::errc::invalid_argument);
        return;
    }
    struct stat info {};
    if (files_.status(name, info, true) == 0) {
        if (S_ISDIR(info.st_mode)) {
            error_ = std::make_error_code(std::errc::is_a_directory);
            return;
        }
        if (S_ISBLK(info.st_mode)) {
            error_ = OutputError::blockDevice;
            return;
        }
        if (!S_ISREG(info.st_mode)) kind_ = OutputKind::direct;
    } else if (errno != ENOENT) {
        error_ = std::error_code(errno, std::generic_category());
        return;
    }
    fd_ = kind_ == OutputKind::direct ? files_.openExisting(name) : files_.openAppending(name);
    if (fd_ < 0) error_ = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

AppendedFile::~AppendedFile() {
    if (fd_ >= 0 && kind_ != OutputKind::standardOutput) (void)files_.close(fd_);
}

bool AppendedFile::append(std::string_view text) {
    if (error_) return false;
    // A signal that ends the program in the middle of a write to a file can cut it short.
    const HeldSignals held;
    for (;;) {
        const long written = files_.write(fd_, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written == static_cast<long>(text.size())) return true;
        // A piece cut short is not finished by a second write, which another process's piece
        // could come before: the file is full (or broken), and that is the error.
        error_ = std::error_code(written < 0 && errno != 0 ? errno : ENOSPC, std::generic_category());
        return false;
    }
}

bool AppendedFile::sync() {
    if (error_) return false;
    if (kind_ == OutputKind::replaced && files_.sync(fd_) != 0) {
        error_ = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
        return false;
    }
    return true;
}

std::error_code writeFileSafely(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                                FileSystem& files, Dash dash) {
    SafeFile file(target, files, dash);
    if (file.write(bytes)) file.commit();
    return file.error();
}

std::error_code writeFileSafely(const std::filesystem::path& target, std::string_view text, FileSystem& files,
                                Dash dash) {
    return writeFileSafely(target, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), files,
                           dash);
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
            case ELOOP:
                return "too many symbolic links";
            default:
                break;
        }
    }
    std::string text = error.message();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

void prepareSignalsForWriting() {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored from the start (nohup's SIGHUP) stays ignored.
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndDie;
        sigemptyset(&action.sa_mask);
        for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
        ::sigaction(s, &action, nullptr);
    }
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace orv
