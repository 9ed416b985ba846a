#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

// Reading a settings file back whole, to see that it was left as it was.

namespace kestrove::testing {

inline std::vector<char> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& file, const std::vector<char>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kestrove::testing
