#include "io/NpyFile.hpp"

namespace orv {

std::string npyHeader(std::uint64_t height, std::uint64_t width, std::string_view descr) {
    std::string dictionary = "{'descr': '" + std::string(descr) + "', 'fortran_order': False, 'shape': (" +
                             std::to_string(height) + ", " + std::to_string(width) + "), }";
    constexpr std::size_t kFixed = 10;  // magic, version and the length field
    const std::size_t total = (kFixed + dictionary.size() + 1 + 63) / 64 * 64;
    dictionary.append(total - kFixed - dictionary.size() - 1, ' ');
    dictionary += '\n';
    std::string header("\x93NUMPY\x01\x00", 8);
    header += static_cast<char>(dictionary.size() & 0xFF);
    header += static_cast<char>(dictionary.size() >> 8);
    return header + dictionary;
}

}  // namespace orv
