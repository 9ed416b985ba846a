// Drops onto the main window, with the real file transform and folder walker on real files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include <QApplication>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QTest>

#include "FormMain.h"
#include "UiTestSupport.h"

namespace kestrove::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kKey = 105;

// What the window looks like when a drop starts (the bar is set to 1 last).
struct DropStart {
    bool tip0 = false;
    bool tip1 = false;
    Qt::CursorShape windowCursor = Qt::ArrowCursor;
    Qt::CursorShape targetCursor = Qt::ArrowCursor;
};

class DropTest : public ::testing::Test {
protected:
    DropTest() { ui.state.CipherKey = kKey; }

    void Open(DropWork work = DropWork::FromCore()) {
        window = std::make_unique<FormMain>(ui.state, ui.services, [] {}, std::move(work));
        window->show();
        QObject::connect(window.get(), &FormMain::progressWidthSet, [this](int width) {
            widths.push_back(width);
            if (width == 1) {
                starts.push_back({Tip(0)->isVisible(), Tip(1)->isVisible(),
                                  window->cursor().shape(), target()->cursor().shape()});
            }
        });
        QObject::connect(window.get(), &FormMain::dropEnded,
                         [this](int index, bool completed) { ended.emplace_back(index, completed); });
    }

    QLabel* Tip(int index) {
        return window->findChild<QLabel*>(QStringLiteral("LabTip(%1)").arg(index));
    }
    QWidget* Target(int index) {
        return window->findChild<QWidget*>(QStringLiteral("ImgGo(%1)").arg(index));
    }
    QWidget* target() { return Target(m_lastIndex); }

    bool Drop(int index, const std::vector<fs::path>& paths) {
        m_lastIndex = index;
        return DragAndDrop(Target(index), FileUrls(paths));
    }
    [[nodiscard]] bool WaitForDrops(std::size_t count) {
        return WaitUntil([&] { return ended.size() >= count; });
    }

    // A folder with n files, named so that they sort in creation order, each with its content.
    fs::path MakeFolder(const std::string& name, int n) {
        const fs::path folder = dir.path() / name;
        fs::create_directories(folder);
        for (int i = 0; i < n; ++i) {
            MakeFile(folder / ("file" + std::to_string(100 + i) + ".txt"), 50 + i);
        }
        return folder;
    }
    fs::path MakeFile(const fs::path& path, std::size_t size) {
        const auto bytes = SampleBytes(size, static_cast<unsigned>(plain.size()));
        WriteBytes(path, bytes);
        plain[path] = bytes;
        return path;
    }
    void ExpectEncrypted(const fs::path& path) {
        EXPECT_EQ(ReadBytes(path), Encrypted(plain.at(path), kKey)) << path;
    }
    void ExpectPlain(const fs::path& path) { EXPECT_EQ(ReadBytes(path), plain.at(path)) << path; }
    void ExpectPointersReset() {
        EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
        EXPECT_FALSE(Target(0)->testAttribute(Qt::WA_SetCursor));
        EXPECT_FALSE(Target(1)->testAttribute(Qt::WA_SetCursor));
    }

    UiHarness ui;
    TempFolder dir;
    std::map<fs::path, std::vector<std::uint8_t>> plain;
    std::unique_ptr<FormMain> window;
    std::vector<int> widths;
    std::vector<DropStart> starts;
    std::vector<std::pair<int, bool>> ended;

private:
    int m_lastIndex = 0;
};

TEST_F(DropTest, BarFollowsTheFilesOfAFolder) {
    Open();
    const std::map<int, std::vector<int>> expected = {
        {2, {1, 108, 217, 217}},
        {3, {1, 72, 145, 217, 217}},
        {4, {1, 54, 108, 163, 217, 217}},
    };
    std::size_t drops = 0;
    for (const auto& [count, sequence] : expected) {
        widths.clear();
        const fs::path folder = MakeFolder("folder" + std::to_string(count), count);
        ASSERT_TRUE(Drop(0, {folder}));
        ASSERT_TRUE(WaitForDrops(++drops));
        EXPECT_EQ(widths, sequence) << count << " files";
        for (const auto& [path, bytes] : plain) {
            if (path.parent_path() == folder) {
                ExpectEncrypted(path);
            }
        }
    }
    widths.clear();
    ASSERT_TRUE(Drop(0, {MakeFolder("folder14", 14)}));
    ASSERT_TRUE(WaitForDrops(++drops));
    ASSERT_EQ(widths.size(), 16u);
    EXPECT_EQ(widths[0], 1);
    EXPECT_EQ(widths[1], 16);  // 15.5 goes to the even neighbour
    EXPECT_EQ(widths[14], 217);
    EXPECT_EQ(widths[15], 217);
    EXPECT_TRUE(std::is_sorted(widths.begin(), widths.end()));
}

TEST_F(DropTest, LabelsAndPointersSwitchBetweenTheTargets) {
    Open();
    const fs::path file = MakeFile(dir.path() / "a.txt", 1000);
    ASSERT_TRUE(Drop(0, {file}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(file);
    EXPECT_TRUE(Tip(0)->isVisible());
    EXPECT_FALSE(Tip(1)->isVisible());
    ExpectPointersReset();

    ASSERT_TRUE(Drop(1, {file}));
    ASSERT_TRUE(WaitForDrops(2));
    ExpectPlain(file);
    EXPECT_FALSE(Tip(0)->isVisible());
    EXPECT_TRUE(Tip(1)->isVisible());
    ExpectPointersReset();

    ASSERT_EQ(starts.size(), 2u);
    for (const DropStart& start : starts) {
        EXPECT_FALSE(start.tip0);
        EXPECT_FALSE(start.tip1);
        EXPECT_EQ(start.windowCursor, Qt::WaitCursor);
        EXPECT_EQ(start.targetCursor, Qt::WaitCursor);
    }
    // Plain files leave the bar at 1 until the end.
    EXPECT_EQ(widths, (std::vector<int>{1, 217, 1, 217}));
    EXPECT_EQ(ended, (std::vector<std::pair<int, bool>>{{0, true}, {1, true}}));
}

TEST_F(DropTest, TwoFilesAndAFolderAreDoneInListOrder) {
    std::vector<fs::path> order;
    std::mutex mutex;
    DropWork work = DropWork::FromCore();
    work.transform = [&order, &mutex, real = work.transform](const fs::path& path, Direction d,
                                                              std::int32_t key,
                                                              std::stop_token stop) {
        {
            std::lock_guard lock(mutex);
            order.push_back(path);
        }
        return real(path, d, key, stop);
    };
    Open(work);
    const fs::path first = MakeFile(dir.path() / "first.bin", 300);
    const fs::path folder = MakeFolder("inner", 3);
    const fs::path last = MakeFile(dir.path() / "last.bin", 70);
    ASSERT_TRUE(Drop(0, {first, folder, last}));
    ASSERT_TRUE(WaitForDrops(1));
    EXPECT_EQ(widths, (std::vector<int>{1, 72, 145, 217, 217}));
    ASSERT_EQ(order.size(), 5u);
    EXPECT_EQ(order.front(), first);
    EXPECT_EQ(order.back(), last);
    for (const auto& [path, bytes] : plain) {
        ExpectEncrypted(path);
    }
    EXPECT_TRUE(ui.boxes.boxes.empty());
    EXPECT_TRUE(Tip(0)->isVisible());
}

TEST_F(DropTest, DroppedReadOnlyFileReportsItsFailureAndTheDropGoesOn) {
    Open();
    const fs::path locked = MakeFile(dir.path() / "locked.txt", 64);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const fs::path other = MakeFile(dir.path() / "other.txt", 64);
    ASSERT_TRUE(Drop(0, {locked, other}));
    ASSERT_TRUE(WaitForDrops(1));
    ASSERT_EQ(ui.boxes.boxes.size(), 1u);
    EXPECT_TRUE(ui.boxes.boxes[0].text.startsWith(QStringLiteral("加密时")));
    EXPECT_GT(ui.boxes.boxes[0].text.size(), 3);
    EXPECT_EQ(ui.boxes.boxes[0].title, QStringLiteral("提示信息"));
    EXPECT_EQ(ui.boxes.boxes[0].style, 64);
    EXPECT_EQ(ui.boxes.boxes[0].parent, window.get());
    ExpectPlain(locked);
    ExpectEncrypted(other);
    EXPECT_EQ(ended, (std::vector<std::pair<int, bool>>{{0, true}}));
    EXPECT_TRUE(Tip(0)->isVisible());
}

TEST_F(DropTest, DragsWithoutAFileListAreRefused) {
    Open();
    const fs::path file = MakeFile(dir.path() / "a.txt", 10);
    auto offer = [&](QMimeData& data, Qt::DropActions actions) {
        QDragEnterEvent enter(QPoint(50, 50), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target(0), &enter);
        const bool accepted = enter.isAccepted();
        QDropEvent drop(QPoint(50, 50), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target(0), &drop);  // dropped anyway
        return accepted;
    };
    QMimeData text;
    text.setText(QStringLiteral("just text"));
    EXPECT_FALSE(offer(text, Qt::CopyAction));
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("http://www.brannoc.example/a.txt"))});
    EXPECT_FALSE(offer(web, Qt::CopyAction));
    QMimeData mixed;
    mixed.setUrls(FileUrls({file}) << QUrl(QStringLiteral("http://www.brannoc.example/")));
    EXPECT_FALSE(offer(mixed, Qt::CopyAction));
    QMimeData moveOnly;
    moveOnly.setUrls(FileUrls({file}));
    EXPECT_FALSE(offer(moveOnly, Qt::MoveAction));
    QMimeData files;
    files.setUrls(FileUrls({file}));
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(Target(1), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);

    QTest::qWait(100);
    EXPECT_TRUE(widths.empty());
    EXPECT_TRUE(ended.empty());
    ExpectPlain(file);
    EXPECT_TRUE(ui.boxes.boxes.empty());
}

TEST_F(DropTest, VanishedPathAbandonsTheRestOfTheDrop) {
    Open();
    const fs::path before = MakeFile(dir.path() / "before.txt", 40);
    const fs::path after = MakeFile(dir.path() / "after.txt", 40);
    ASSERT_TRUE(Drop(0, {before, dir.path() / "gone.txt", after}));
    ASSERT_TRUE(WaitForDrops(1));
    ASSERT_EQ(ui.boxes.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes.boxes[0].text, QStringLiteral("请拖入文件或目录！"));
    EXPECT_EQ(ui.boxes.boxes[0].title, QStringLiteral("提示信息"));
    EXPECT_EQ(ui.boxes.boxes[0].style, 64);
    ExpectEncrypted(before);
    ExpectPlain(after);
    EXPECT_EQ(ended, (std::vector<std::pair<int, bool>>{{0, false}}));
    EXPECT_FALSE(Tip(0)->isVisible());
    EXPECT_FALSE(Tip(1)->isVisible());
    EXPECT_EQ(widths, std::vector<int>{1});  // the bar stays where it was
    ExpectPointersReset();
}

TEST_F(DropTest, EachRealFileOnceAndOddEntriesReported) {
    Open();
    const fs::path file = MakeFile(dir.path() / "real.txt", 500);
    const fs::path link = dir.path() / "link.txt";
    fs::create_symlink(file, link);
    const fs::path fifo = dir.path() / "pipe.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path folder = dir.path() / "holder";
    fs::create_directory(folder);
    fs::create_hard_link(file, folder / "again.txt");
    ASSERT_TRUE(Drop(0, {file, link, fifo, folder}));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(file);  // once, not two or three times
    ASSERT_EQ(ui.boxes.boxes.size(), 1u);
    EXPECT_TRUE(ui.boxes.boxes[0].text.startsWith(QStringLiteral("加密时")));
    EXPECT_EQ(ended, (std::vector<std::pair<int, bool>>{{0, true}}));
    EXPECT_EQ(widths, (std::vector<int>{1, 217, 217}));
}

// Holds the first transform until released; honours a stop so that nothing can hang.
class Gate {
public:
    void Wait(std::stop_token stop) {
        std::unique_lock lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, stop, [this] { return m_open; });
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
    DropWork work = DropWork::FromCore();
    work.transform = [&, real = work.transform](const fs::path& path, Direction direction,
                                                 std::int32_t key, std::stop_token stop) {
        {
            std::lock_guard lock(mutex);
            calls.emplace_back(path, direction);
        }
        if (direction == Direction::Encrypt) {
            gate.Wait(stop);
        }
        return real(path, direction, key, stop);
    };
    Open(work);
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
    DropWork work = DropWork::FromCore();
    work.transform = [&, real = work.transform](const fs::path& path, Direction direction,
                                                 std::int32_t key, std::stop_token stop) {
        ++started;
        return real(path, direction, key, stop);
    };
    Open(work);
    const fs::path folder = dir.path() / "big";
    fs::create_directory(folder);
    std::vector<fs::path> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(MakeFile(folder / ("part" + std::to_string(i) + ".bin"),
                                 i == 1 ? (24u << 20) : 4096u));
    }
    ASSERT_TRUE(Drop(0, {folder}));
    ASSERT_TRUE(WaitUntil([&] { return started.load() >= 2; }));
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
    EXPECT_GE(encrypted, 1);  // the files before the quit stay done
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_TRUE(std::find(files.begin(), files.end(), entry.path()) != files.end())
            << "left behind: " << entry.path();
    }
    EXPECT_TRUE(ended.empty());
}

}  // namespace
}  // namespace kestrove::test
