#include "io/FileIdentity.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

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

// A name's directory ("." for none) and its own name.
std::pair<std::string, std::string> split(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    if (slash == std::string::npos) return {".", name};
    return {slash == 0 ? "/" : name.substr(0, slash), name.substr(slash + 1)};
}

}  // namespace

const FileIdentity::Directory& FileIdentity::directory(const std::string& path) {
    const auto found = directories_.find(path);
    if (found != directories_.end()) return found->second;
    Directory& d = directories_[path];
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        d.key = inodeKey(info);
        const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(path.c_str()), &::closedir);
        if (listing)
            while (const dirent* entry = ::readdir(listing.get())) d.names.insert(entry->d_name);
    } else {
        // No such directory (a write there fails anyway): known by its name.
        std::error_code ignored;
        const std::string absolute = std::filesystem::absolute(path, ignored).lexically_normal().string();
        d.key.push_back('@');
        d.key += absolute;
    }
    return d;
}

std::string FileIdentity::followedKey(const std::string& name) {
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
            const auto [parent, own] = split(path);
            path = parent + "/" + target;
        }
    }
    // A name that is not there (a dangling link's end, or a loop of links): its directory and
    // its own name.
    const auto [parent, own] = split(path);
    std::string key = directory(parent).key;
    return key.append("/").append(own);
}

std::string FileIdentity::key(const std::string& name) {
    if (name == "-") return name;
    const auto [parent, own] = split(name);
    const Directory& d = directory(parent);
    // Not in its directory's listing: nothing to follow, nothing to ask the system.
    if (!own.empty() && own != "." && own != ".." && !d.names.contains(own)) {
        std::string key = d.key;
        return key.append("/").append(own);
    }
    return followedKey(name);
}

}  // namespace orv
