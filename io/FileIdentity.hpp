#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace orv {

// Tells whether names lead to the same file, as a write through them would find it: symbolic
// links are followed (a dangling one to the name it points to), an existing file is known by its
// device and inode (hard links too), and a missing one by its name in its directory, the
// directory known by its device and inode (so that "d1/x" and "d2/x" meet when d2 is a link to
// d1). Names that lead to one file have the same key; "-" is its own key.
//
// Made for the many names of a range of maps: each directory is looked up and listed once, so
// that a name that is not there yet (the usual case) costs no call to the system at all.
class FileIdentity {
public:
    // The key of a name.
    std::string key(const std::string& name);

private:
    struct Directory {
        std::string key;                        // "#DEVICE:INODE", or "@PATH" when it is missing
        std::unordered_set<std::string> names;  // what it held when it was listed
    };
    const Directory& directory(const std::string& path);
    std::string followedKey(const std::string& name);

    std::unordered_map<std::string, Directory> directories_;
};

}  // namespace orv
