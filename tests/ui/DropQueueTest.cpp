// Drops while another drop runs, and quitting in the middle of one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include <QTest>

#include "DropFixture.h"
#include "StopWait.h"

namespace kestrove::testing {
namespace {

// Holds the first transform until released; honours a stop so that nothing can hang.
class Gate {
  public:
    void Wait(std::stop_token stop) {
        std::unique_lock lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        WaitUnlessStopped(m_changed, lock, stop, [this] { return m_open; });
    }
    void Open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    bool Entered() {
        std::lock_guard lock(m_mutex);
        return m_entered;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    bool m_entered = false;
    bool m_open = false;
};

TEST_F(DropTest, SecondDropWaitsForTheFirst) {
    Gate gate;
    std::vector<std::pair<fs::path, Direction>> calls;
    std::mutex mutex;
    Open(WithFileHook(DropWork::FromCore(),
                      [&](const fs::path& path, Direction direction, std::stop_token stop) {
                          {
                              std::lock_guard lock(mutex);
                              calls.emplace_back(path, direction);
                          }
                          if (direction == Direction::Encrypt) {
                              gate.Wait(stop);
                          }
                      }));
    const fs::path first = MakeFile(dir.path() / "first.txt", 100);
    const fs::path second = MakeFile(dir.path() / "second.txt", 100);
    ASSERT_TRUE(Drop(0, {first}));
    ASSERT_TRUE(WaitUntil([&] { return gate.Entered(); }));
    ASSERT_TRUE(Drop(1, {second}));
    QTest::qWait(150);  // the window stays responsive and the second drop waits
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(calls.size(), 1u);
    }
    EXPECT_TRUE(ended.empty());
    EXPECT_EQ(widths, std::vector<int>{1});
    gate.Open();
    ASSERT_TRUE(WaitForDrops(2));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], std::make_pair(first, Direction::Encrypt));
    EXPECT_EQ(calls[1], std::make_pair(second, Direction::Decrypt));
    EXPECT_EQ(widths, (std::vector<int>{1, 217, 1, 217}));
    EXPECT_EQ(ended, (std::vector<std::pair<int, bool>>{{0, true}, {1, true}}));
    EXPECT_TRUE(Tip(1)->isVisible());
    EXPECT_FALSE(Tip(0)->isVisible());
}

TEST_F(DropTest, QuitDuringAJobLeavesEveryFileWhole) {
    std::atomic<int> started{0};
    // Files larger than a batch takes each go on their own, in their turn; the third one waits for
    // the quit, so that the quit always comes in the middle of the job, after two are in place.
    Open(WithFileHook(DropWork::FromCore(), [&](const fs::path&, Direction, std::stop_token stop) {
        if (++started != 3) {
            return;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop.stop_requested() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }));
    const fs::path folder = dir.path() / "big";
    fs::create_directory(folder);
    std::vector<fs::path> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(MakeFile(folder / ("part" + std::to_string(i) + ".bin"), (5u << 20) + i));
    }
    ASSERT_TRUE(Drop(0, {folder}));
    ASSERT_TRUE(WaitUntil([&] { return started.load() >= 3; }));
    QTest::mouseClick(window->findChild<QWidget*>(QStringLiteral("LabQuit")), Qt::LeftButton);
    EXPECT_EQ(ui.end.count, 1);
    EXPECT_FALSE(window->isVisible());
    // The worker has stopped: nothing changes from here on.
    const int startedAtQuit = started.load();
    QTest::qWait(100);
    EXPECT_EQ(started.load(), startedAtQuit);
    int encrypted = 0;
    for (const fs::path& file : files) {
        const auto now = ReadBytes(file);
        const bool isPlain = now == plain.at(file);
        const bool isEncrypted = now == Encrypted(plain.at(file), kKey);
        EXPECT_TRUE(isPlain || isEncrypted) << file;
        encrypted += isEncrypted ? 1 : 0;
    }
    EXPECT_EQ(encrypted, 2);  // the files before the quit stay done, the rest are untouched
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_TRUE(std::find(files.begin(), files.end(), entry.path()) != files.end())
            << "left behind: " << entry.path();
    }
    EXPECT_TRUE(ended.empty());
}

}  // namespace
}  // namespace kestrove::testing
