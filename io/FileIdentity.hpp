#pragma once

#include <string>
#include <unordered_map>

namespace orv {

// Tells whether names lead to the same file, as a write through them would find it: symbolic
// links are followed (a dangling one to the name it points to), an existing file is known by its
// device and inode (hard links too), and a missing one by its name in its directory, the
// directory known by its device and inode (so that "d1/x" and "d2/x" meet when d2 is a link to
// d1). Names that lead to one file have the same key; "-" is its own key.
class FileIdentity {
public:
    // The key of a name.
    std::string key(const std::string& name);

private:
    std::string directoryKey(const std::string& directory);
    // The directories looked up so far: a range of maps names the same few again and again.
    std::unordered_map<std::string, std::string> directories_;
};

}  // namespace orv
