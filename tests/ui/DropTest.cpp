// Drops onto the main window, with the real file transform and folder walker on real files.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdio>
#include <mutex>

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

#include "DropFixture.h"

namespace kestrove::testing {
namespace {

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
    Open(WithFileHook(DropWork::FromCore(), [&](const fs::path& path, Direction, std::stop_token) {
        std::lock_guard lock(mutex);
        order.push_back(path);
    }));
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
    EXPECT_EQ(ui.boxes.boxes[0].style, BoxStyle::Information);
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

    // A URL list is a file list by its format; one without any file in it is taken, read on
    // drop, and then changes nothing.
    RawUriListData web("http://www.brannoc.example/a.txt\r\n");
    EXPECT_TRUE(offer(web, Qt::CopyAction));
    EXPECT_GT(web.Reads(), 0);

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
    EXPECT_EQ(ui.boxes.boxes[0].style, BoxStyle::Information);
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
    std::vector<fs::path> dropped = {file};
#ifdef _WIN32
    // Windows makes symbolic links only with a privilege or in developer mode, and Wine not at
    // all ("Function not implemented"): then the hard link and the folder are the other ways in.
    std::error_code linkError;
    fs::create_symlink(file, link, linkError);
    if (linkError) {
        std::printf("no symbolic link here (%s); checked without it\n",
                    linkError.message().c_str());
    } else {
        dropped.push_back(link);
    }
#else
    fs::create_symlink(file, link);
    dropped.push_back(link);
#endif
#ifndef _WIN32
    const fs::path fifo = dir.path() / "pipe.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    dropped.push_back(fifo);
#endif
    const fs::path folder = dir.path() / "holder";
    fs::create_directory(folder);
    fs::create_hard_link(file, folder / "again.txt");
    dropped.push_back(folder);
    ASSERT_TRUE(Drop(0, dropped));
    ASSERT_TRUE(WaitForDrops(1));
    ExpectEncrypted(file);  // once, not two or three times
#ifndef _WIN32
    ASSERT_EQ(ui.boxes.boxes.size(), 1u);  // the FIFO is not a file to transform
    EXPECT_TRUE(ui.boxes.boxes[0].text.startsWith(QStringLiteral("加密时")));
#endif
    EXPECT_EQ(ended, (std::vector<std::pair<int, bool>>{{0, true}}));
    EXPECT_EQ(widths, (std::vector<int>{1, 217, 217}));
}

}  // namespace
}  // namespace kestrove::testing
