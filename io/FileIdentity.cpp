#include "io/FileIdentity.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace orv {
namespace {

// Symbolic links followed before giving up, as the system itself does.
constexpr int kMaxLinks = 40;

// "#DEVICE:INODE" (built by appending: GCC 12 warns falsely of overlapping copies in the
// concatenation of short strings).
std::string inodeKey(const struct stat& info) {
    std::string key("#");
    key.append(std::to_string(info.st_dev)).append(":").append(std::to_string(info.st_ino));
    return key;
}

std::string readLink(const std::string& path) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return buffer.substr(0, static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::string FileIdentity::directoryKey(const std::string& directory) {
    const auto found = directories_.find(directory);
    if (found != directories_.end()) return found->second;
    struct stat info {};
    std::string key;
    if (::stat(directory.c_str(), &info) == 0) {
        key = inodeKey(info);
    } else {
        // No such directory (a write there fails anyway): known by its name.
        std::error_code ignored;
        const std::string absolute = std::filesystem::absolute(directory, ignored).lexically_normal().string();
        key.push_back('@');
        key += absolute;
    }
    directories_.emplace(directory, key);
    return key;
}

std::string FileIdentity::key(const std::string& name) {
    if (name == "-") return name;
    std::string path = name;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) break;
        if (!S_ISLNK(info.st_mode)) return inodeKey(info);
        const std::string target = readLink(path);
        if (target.empty()) break;
        if (target.starts_with('/')) {
            path = target;
        } else {
            const std::filesystem::path parent = std::filesystem::path(path).parent_path();
            path = parent.empty() ? target : (parent / target).string();
        }
    }
    // A name that is not there (or a loop of links): its directory and its own name.
    const std::filesystem::path p(path);
    const std::string directory = p.has_parent_path() ? p.parent_path().string() : ".";
    std::string key = directoryKey(directory);
    return key.append("/").append(p.filename().string());
}

}  // namespace orv
