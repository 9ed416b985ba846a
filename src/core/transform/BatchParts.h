#pragma once

// Internal to kestrove_core: parts of a batch run (BatchedTransform.cpp) that stand on their own.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "FileTransform.h"
#include "PathInfo.h"

namespace kestrove::detail {

// Runs work(i) for every i below count on up to `threads` threads at once. Flushes in flight
// together let the file system write them out and commit them together, where one after another
// each waits for a commit of its own.
inline void RunTogether(std::size_t count, unsigned threads,
                        const std::function<void(std::size_t)>& work) {
    if (count == 0) {
        return;
    }
    std::atomic<std::size_t> next{0};
    auto drain = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            work(i);
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(count, std::max(threads, 1u)) - 1;
    for (std::size_t t = 0; t < wanted; ++t) {
        try {
            helpers.emplace_back(drain);
        } catch (const std::system_error&) {
            break;  // fewer helpers: the same work, less at once
        }
    }
    drain();
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

struct FileIdHash {
    std::size_t operator()(const FileId& id) const noexcept {
        return std::hash<std::uint64_t>{}(id.index * 0x9E3779B97F4A7C15ULL ^ id.device);
    }
};

// What each real file of a run was told, for the paths that meet it again; kept small, since a
// run may meet millions of files: a number per file, the outcome itself only for failures.
class Fates {
  public:
    // Whether this is the first meeting; the file is then pending until told.
    bool Meet(const FileId& file) { return m_told.try_emplace(file, kPending).second; }
    void Tell(const FileId& file, const FileOutcome& outcome) {
        std::uint32_t& told = m_told[file];
        if (outcome.ok()) {
            told = kDone;
        } else {
            told = kFailures + static_cast<std::uint32_t>(m_failures.size());
            m_failures.push_back(outcome);
        }
    }
    [[nodiscard]] FileOutcome Of(const FileId& file) const {
        const auto told = m_told.find(file);
        if (told == m_told.end() || told->second < kFailures) {
            return FileOutcome{};
        }
        return m_failures[told->second - kFailures];
    }

  private:
    static constexpr std::uint32_t kPending = 0;
    static constexpr std::uint32_t kDone = 1;
    static constexpr std::uint32_t kFailures = 2;
    std::unordered_map<FileId, std::uint32_t, FileIdHash> m_told;
    std::vector<FileOutcome> m_failures;
};

}  // namespace kestrove::detail
