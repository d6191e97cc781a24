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
constexpr std::size_t kSlotName = 256;
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };
// A temporary file as the handler removes it: its name in a directory held open.
struct TemporarySlot {
    std::atomic<int> state{kFree};
    int directory = -1;
    char name[kSlotName];
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

int registerTemporary(int directory, const std::string& name) {
    if (name.size() >= kSlotName) return -1;
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
        slot.directory = directory;
        std::memcpy(slot.name, name.c_str(), name.size() + 1);
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
        if (slot.state.load() == kReady) (void)::unlinkat(slot.directory, slot.name, 0);
    if (TemporarySlot* more = moreSlots.load())
        for (int i = 0; i < kMoreSlots; ++i)
            if (more[i].state.load() == kReady) (void)::unlinkat(more[i].directory, more[i].name, 0);
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
        switch (static_cast<OutputError>(value)) {
            case OutputError::blockDevice:
                return "a block device has that name";
            case OutputError::trailingSlash:
                return "a name ending in '/' can only be a directory's";
        }
        return "unknown output error";
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

OpenDirectory::~OpenDirectory() {
    if (fd >= 0) (void)::close(fd);
}

int FileSystem::openDirectory(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int FileSystem::createNew(const OpenDirectory& directory, const std::string& name) {
    return ::openat(directory.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
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

int FileSystem::rename(const OpenDirectory& directory, const std::string& from, const std::string& to) {
    return ::renameat(directory.fd, from.c_str(), directory.fd, to.c_str());
}

int FileSystem::remove(const OpenDirectory& directory, const std::string& name) {
    return ::unlinkat(directory.fd, name.c_str(), 0);
}

void FileSystem::syncDirectory(const OpenDirectory& directory) {
    (void)::fsync(directory.fd);
}

int FileSystem::syncFileSystem(const OpenDirectory& directory) {
    return ::syncfs(directory.fd);
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

int FileSystem::truncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
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
        mode_ = WriteMode::standardOutput;
        fd_ = STDOUT_FILENO;
        return;
    }
    if (target.empty()) return fail(std::make_error_code(std::errc::invalid_argument));

    struct stat info {};
    if (files_.status(target, info, true) == 0) {
        if (S_ISDIR(info.st_mode)) return fail(std::make_error_code(std::errc::is_a_directory));
        if (S_ISBLK(info.st_mode)) return fail(OutputError::blockDevice);
        if (!S_ISREG(info.st_mode)) {
            // A device, FIFO or socket (found through its name, or through links such as
            // /dev/stdout whose text names no file): written as it is, never replaced.
            mode_ = WriteMode::direct;
            fd_ = files_.openExisting(target);
            if (fd_ < 0) failWithErrno(errno);
            return;
        }
    } else if (errno != ENOENT && errno != ENOTDIR) {
        return failWithErrno(errno);
    }
    if (target.back() == '/') return fail(OutputError::trailingSlash);
    if (namesNoFile(target)) return fail(std::make_error_code(std::errc::is_a_directory));

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
    if (!final_.empty() && final_.back() == '/') return fail(OutputError::trailingSlash);
    if (namesNoFile(final_)) return fail(std::make_error_code(std::errc::is_a_directory));

    const std::string directoryPath = parentOf(final_);
    const int directoryFd = files_.openDirectory(directoryPath);
    if (directoryFd < 0) return failWithErrno(errno);
    directory_ = std::make_shared<OpenDirectory>(directoryFd, directoryPath);
    finalName_ = std::filesystem::path(final_).filename().string();
    // A hidden name next to the file replaced; its own name is shortened so that a name close
    // to the file system's limit still leaves room for the suffix.
    const std::string stem = "." + finalName_.substr(0, 200) + "." + std::to_string(::getpid()) + "-";
    int why = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + std::to_string(attempt) + ".tmp";
        const HeldSignals held;
        fd_ = files_.createNew(*directory_, name);
        if (fd_ >= 0) {
            temporary_ = name;
            slot_ = registerTemporary(directory_->fd, temporary_);
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

std::string SafeFile::temporaryPath() const {
    return temporary_.empty() ? std::string() : (std::filesystem::path(directory_->path) / temporary_).string();
}

void SafeFile::failWithErrno(int errnoValue) {
    fail(std::error_code(errnoValue != 0 ? errnoValue : EIO, std::generic_category()));
}

void SafeFile::fail(std::error_code why) {
    if (!error_) error_ = why;
    discard();
}

void SafeFile::discard() {
    if (fd_ >= 0 && mode_ != WriteMode::standardOutput) (void)files_.close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        const HeldSignals held;
        (void)files_.remove(*directory_, temporary_);
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
    if (mode_ == WriteMode::standardOutput) {
        committed_ = true;
        return true;
    }
    // A device or a pipe has nothing to flush to a disk.
    if (mode_ == WriteMode::replaced && files_.sync(fd_) != 0) {
        failWithErrno(errno);
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (files_.close(fd) != 0) {  // delayed write errors (network or quota) show up here
        failWithErrno(errno);
        return false;
    }
    if (mode_ == WriteMode::replaced) {
        {
            const HeldSignals held;
            if (files_.rename(*directory_, temporary_, finalName_) != 0) {
                failWithErrno(errno);
                return false;
            }
            temporary_.clear();
            unregisterTemporary(slot_);
        }
        files_.syncDirectory(*directory_);
    }
    committed_ = true;
    return true;
}

bool SafeFile::commit(SyncBatch& batch) {
    if (error_ || committed_ || mode_ != WriteMode::replaced) return commit();
    const int fd = fd_;
    fd_ = -1;
    if (files_.close(fd) != 0) {
        failWithErrno(errno);
        return false;
    }
    // The batch owns the temporary file from here on, its removal on a signal included.
    batch.held_.push_back({directory_, temporary_, finalName_, final_, slot_, batch.group_});
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
        (void)files_.remove(*h.directory, h.temporary);
        unregisterTemporary(h.slot);
    }
    held_.clear();
}

std::error_code SyncBatch::flush() {
    std::error_code error;
    // One flush for each file system (most runs write to one), through a directory on it.
    std::vector<std::pair<dev_t, const Held*>> systems;
    for (const Held& h : held_) {
        struct stat info {};
        if (::fstat(h.directory->fd, &info) != 0) info.st_dev = 0;
        if (std::none_of(systems.begin(), systems.end(), [&](const auto& s) { return s.first == info.st_dev; }))
            systems.emplace_back(info.st_dev, &h);
    }
    for (const auto& [device, first] : systems) {
        if (files_.syncFileSystem(*first->directory) != 0) {
            error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
            failedPath_ = first->finalPath;  // the first file that could not be flushed
            discard();
            return error;
        }
    }
    // The renames, a group at a time with the signals held: a group is in place whole or not at
    // all. A failure puts back nothing; the group it struck is removed with those after it.
    std::vector<std::shared_ptr<OpenDirectory>> directories;
    std::size_t renamed = 0;
    while (renamed < held_.size() && !error) {
        const HeldSignals held;
        std::size_t end = renamed;
        while (end < held_.size() && held_[end].group == held_[renamed].group) ++end;
        std::size_t done = renamed;
        for (; done < end; ++done) {
            Held& h = held_[done];
            if (files_.rename(*h.directory, h.temporary, h.finalName) != 0) {
                error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
                failedPath_ = h.finalPath;
                break;
            }
            unregisterTemporary(h.slot);
            if (std::find(directories.begin(), directories.end(), h.directory) == directories.end())
                directories.push_back(h.directory);
        }
        if (error) {
            // Those of the group already in place have no temporary file left to remove.
            held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(renamed),
                        held_.begin() + static_cast<std::ptrdiff_t>(done));
            break;
        }
        renamed = end;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(renamed));
    for (const std::shared_ptr<OpenDirectory>& directory : directories) files_.syncDirectory(*directory);
    discard();
    return error;
}

AppendedFile::AppendedFile(const std::filesystem::path& target, FileSystem& files, Dash dash) : files_(files) {
    const std::string name = target.string();
    if (dash == Dash::isStandardOutput && name == "-") {
        mode_ = WriteMode::standardOutput;
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
        if (!S_ISREG(info.st_mode)) mode_ = WriteMode::direct;
    } else if (errno != ENOENT) {
        error_ = std::error_code(errno, std::generic_category());
        return;
    } else if (name.back() == '/') {
        error_ = OutputError::trailingSlash;
        return;
    }
    fd_ = mode_ == WriteMode::direct ? files_.openExisting(name) : files_.openAppending(name);
    if (fd_ < 0) {
        error_ = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
        return;
    }
    if (mode_ == WriteMode::replaced) {
        // The last byte there: a file cut off in the middle of a piece is ended first.
        struct stat now {};
        char last = '\n';
        if (::fstat(fd_, &now) == 0 && now.st_size > 0 && ::pread(fd_, &last, 1, now.st_size - 1) == 1)
            endLineFirst_ = last != '\n';
    }
}

AppendedFile::~AppendedFile() {
    if (fd_ >= 0 && mode_ != WriteMode::standardOutput) (void)files_.close(fd_);
}

bool AppendedFile::append(std::string_view text) {
    if (error_) return false;
    std::string ended;
    if (endLineFirst_) {
        ended.reserve(text.size() + 1);
        ended.append(1, '\n').append(text);
        text = ended;
    }
    // A signal that ends the program in the middle of a write to a file can cut it short.
    const HeldSignals held;
    for (;;) {
        const long written = files_.write(fd_, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written == static_cast<long>(text.size())) {
            endLineFirst_ = false;
            return true;
        }
        // A piece cut short is not finished by a second write, which another process's piece
        // could come before. A second write of the rest tells why the first stopped (a full disk
        // or the file-size limit) and is taken back with it.
        int why = written < 0 ? errno : 0;
        if (written > 0 && mode_ == WriteMode::replaced) {
            const off_t end = ::lseek(fd_, 0, SEEK_CUR);
            const long more = files_.write(fd_, text.data() + written, text.size() - static_cast<std::size_t>(written));
            why = more < 0 ? errno : ENOSPC;
            struct stat now {};
            const off_t start = end - static_cast<off_t>(written);
            // Only a piece that still ends the file is ours to cut away.
            if (::fstat(fd_, &now) == 0 && now.st_size == end + (more > 0 ? more : 0))
                (void)files_.truncate(fd_, start);
        }
        error_ = std::error_code(why != 0 ? why : ENOSPC, std::generic_category());
        return false;
    }
}

bool AppendedFile::sync() {
    if (error_) return false;
    if (mode_ == WriteMode::replaced && files_.sync(fd_) != 0) {
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
            case EBADF:
                return "not open for writing (closed when the program started)";
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

void openClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", O_RDONLY);
        if (opened >= 0 && opened != fd) {
            (void)::dup2(opened, fd);
            (void)::close(opened);
        }
    }
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
