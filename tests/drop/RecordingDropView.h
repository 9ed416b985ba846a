#pragma once

// A drop view for tests of the drop worker: records what a drop shows, as text, the bar's width
// as the window shows it (217 pixels in all).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DropJobRunner.h"
#include "StopWait.h"
#include "TextCodec.h"

namespace kestrove::testing {

inline constexpr int kBarWidth = 217;

// Boxes are answered at once unless holdBoxes is set; onBox runs when a box opens.
class RecordingDropView final : public DropView {
  public:
    void BeginDrop(int index) override { Add("begin " + std::to_string(index)); }
    void SetProgress(std::size_t done, std::size_t count) override {
        Add("width " + std::to_string(ProgressWidth(done, count, kBarWidth)));
    }
    void EndDrop(int index) override { Add("end " + std::to_string(index)); }
    // A failure as "failure" and the system's words, or the number of the kind of problem.
    void ReportFailure(const FileFailure& failure, std::stop_token stop) override {
        if (onBox) {
            onBox();
        }
        Add("failure " + (failure.problem == Problem::System
                              ? Utf16ToUtf8(failure.description)
                              : "problem " + std::to_string(static_cast<int>(failure.problem))));
        Hold(stop);
    }
    void AbandonDrop(int index, std::stop_token stop) override {
        Add("abandon " + std::to_string(index));
        Hold(stop);
    }

    bool WaitFor(std::size_t count) {
        return WaitUntil([&] { return m_events.size() >= count; });
    }
    bool WaitFor(const std::string& event) {
        return WaitUntil(
            [&] { return std::find(m_events.begin(), m_events.end(), event) != m_events.end(); });
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

    bool holdBoxes = false;
    std::function<void()> onBox;

  private:
    bool WaitUntil(const std::function<bool()>& done) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), done);
    }
    void Add(std::string event) {
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_changed.notify_all();
    }
    void Hold(std::stop_token stop) {
        std::unique_lock lock(m_mutex);
        WaitUnlessStopped(m_changed, lock, stop, [this] { return !holdBoxes; });
    }

    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<std::string> m_events;
};

}  // namespace kestrove::testing
