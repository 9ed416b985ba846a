#pragma once

// A second process that transforms a file and stops part-way, holding what it holds at that
// moment, until it is killed as a crash would end it: real leftovers of real processes.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "FileTransformDetail.h"

namespace kestrove::testing {

class StalledTransform {
  public:
    // Starts the process, which encrypts file under key 77 in blocks of blockSize and stops just
    // before its write of stage at offset; returns once it has stopped there. Throws when it
    // ends before getting there.
    StalledTransform(const std::filesystem::path& file, detail::WriteStage stage,
                     std::uint64_t offset, std::size_t blockSize);
    ~StalledTransform();
    StalledTransform(const StalledTransform&) = delete;
    StalledTransform& operator=(const StalledTransform&) = delete;

    // Ends the process at once, without any clean-up of its own, and waits until it is gone.
    void Kill();

  private:
    std::intptr_t m_process = 0;
};

inline constexpr std::int32_t kStalledKey = 77;

}  // namespace kestrove::testing
