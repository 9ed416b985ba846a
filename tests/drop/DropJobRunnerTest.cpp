// The drop worker on its own, with the file system replaced: failures that real files cannot
// easily produce, and stopping while the worker waits for the user.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "DropJobRunner.h"
#include "RecordingDropView.h"

namespace kestrove::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using FakeView = RecordingDropView;

// Transforms each file at once: the fakes need no batches. Leftovers met by a walk are handed to
// settle.
class ImmediateBatch final : public FileBatch {
  public:
    ImmediateBatch(std::function<FileOutcome(const fs::path&)> transform,
                   std::function<void(const fs::path&)> settle)
        : m_transform(std::move(transform)), m_settle(std::move(settle)) {}
    bool Add(const fs::path& path, FileFinished finished) override {
        return finished(m_transform(path));
    }
    bool Pass(FileFinished finished) override { return finished(FileOutcome{}); }
    bool Finish() override { return true; }
    void SettleLeftoversOf(const fs::path& temporary) override {
        if (m_settle) {
            m_settle(temporary);
        }
    }

  private:
    std::function<FileOutcome(const fs::path&)> m_transform;
    std::function<void(const fs::path&)> m_settle;
};

void TransformAtOnce(DropWork& work, std::function<FileOutcome(const fs::path&)> transform,
                     std::function<void(const fs::path&)> settle = {}) {
    work.startBatch = [transform, settle](Direction, std::int32_t, std::stop_token) {
        return std::unique_ptr<FileBatch>(std::make_unique<ImmediateBatch>(transform, settle));
    };
}

// Every path is a folder holding the files listed for it, or a regular file.
DropWork FakeWork(std::map<fs::path, std::vector<fs::path>> folders,
                  std::vector<fs::path>* transformed) {
    DropWork work;
    work.classify = [folders](const fs::path& path) {
        return PathInfo{folders.count(path) ? PathKind::Folder : PathKind::RegularFile, {}};
    };
    work.walk = [folders](const fs::path& folder, FileList& results, const WalkObserver& observer) {
        results.Clear();
        if (folder.filename() == "unreadable") {
            observer.onFailure({folder / "deeper", u"Permission denied"});
        }
        for (const auto& file : folders.at(folder)) {
            if (!observer.onEntry()) {
                return WalkEnd::Stopped;
            }
            results.StartFolder((file.parent_path() / "").native());
            results.Add(file.filename().native());
        }
        return WalkEnd::Completed;
    };
    TransformAtOnce(work, [transformed](const fs::path& path) {
        if (path.filename() == "explodes") {
            throw std::runtime_error("out of memory");
        }
        transformed->push_back(path);
        return FileOutcome{};
    });
    return work;
}

TEST(ProgressWidth, RoundsHalfToEven) {
    EXPECT_EQ(ProgressWidth(1, 2, 217), 108);
    EXPECT_EQ(ProgressWidth(1, 3, 217), 72);
    EXPECT_EQ(ProgressWidth(2, 3, 217), 145);
    EXPECT_EQ(ProgressWidth(3, 4, 217), 163);
    EXPECT_EQ(ProgressWidth(1, 14, 217), 16);
    EXPECT_EQ(ProgressWidth(7, 7, 217), 217);
    // No 16-bit limit on the count.
    EXPECT_EQ(ProgressWidth(40000, 80000, 217), 108);
    EXPECT_EQ(ProgressWidth(1, 100000, 217), 0);
}

TEST(DropJobRunner, UnreadableFolderIsReportedAndTheWalkGoesOn) {
    FakeView view;
    std::vector<fs::path> transformed;
    DropJobRunner runner(view,
                         FakeWork({{"/d/unreadable", {"/d/unreadable/a.txt"}}}, &transformed));
    runner.Enqueue({0, {"/d/unreadable", "/d/b.txt"}, 50});
    ASSERT_TRUE(view.WaitFor(4));
    runner.Stop();
    const auto events = view.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], "begin 0");
    EXPECT_EQ(events[1], "failure Permission denied");
    EXPECT_EQ(events[2], "width 217");
    EXPECT_EQ(events[3], "end 0");
    EXPECT_EQ(transformed, (std::vector<fs::path>{"/d/unreadable/a.txt", "/d/b.txt"}));
}

TEST(DropJobRunner, UnexpectedErrorAbandonsTheDrop) {
    FakeView view;
    std::vector<fs::path> transformed;
    DropJobRunner runner(view, FakeWork({}, &transformed));
    runner.Enqueue({1, {"/d/a", "/d/explodes", "/d/c"}, 50});
    runner.Enqueue({0, {"/d/next"}, 50});
    ASSERT_TRUE(view.WaitFor(4));
    runner.Stop();
    EXPECT_EQ(view.Events(),
              (std::vector<std::string>{"begin 1", "abandon 1", "begin 0", "end 0"}));
    EXPECT_EQ(transformed, (std::vector<fs::path>{"/d/a", "/d/next"}));
}

// Leftovers a walk met are handed to the run after the walk, before any file of the walk is
// written; those beside a dropped file are the run's own business (it settles each folder before
// its first file).
TEST(DropJobRunner, LeftoversAWalkMetAreSettledBeforeItsFilesAreWritten) {
    FakeView view;
    std::vector<fs::path> transformed;
    std::vector<std::string> log;
    DropWork work = FakeWork({{"/d/f", {"/d/f/a.txt", "/d/f/b.txt"}}}, &transformed);
    work.walk = [walk = work.walk, &log](const fs::path& folder, FileList& results,
                                         const WalkObserver& observer) {
        observer.onTemporary(folder / ".kestrove-abcdefghijkl.new");
        observer.onTemporary(folder / "sub" / ".kestrove-abcdefghijkl.1.undo");
        log.push_back("walked " + folder.generic_string());
        return walk(folder, results, observer);
    };
    TransformAtOnce(
        work,
        [&log](const fs::path& path) {
            log.push_back("transform " + path.generic_string());
            return FileOutcome{};
        },
        [&log](const fs::path& path) { log.push_back("settle " + path.generic_string()); });
    DropJobRunner runner(view, work);
    runner.Enqueue({0, {"/d/x.txt", "/d/f", "/d/y.txt", "/e/z.txt"}, 50});
    ASSERT_TRUE(view.WaitFor(4));
    runner.Stop();
    EXPECT_EQ(view.Events(),
              (std::vector<std::string>{"begin 0", "width 108", "width 217", "end 0"}));
    EXPECT_EQ(log,
              (std::vector<std::string>{
                  "transform /d/x.txt", "walked /d/f", "settle /d/f/.kestrove-abcdefghijkl.new",
                  "settle /d/f/sub/.kestrove-abcdefghijkl.1.undo", "transform /d/f/a.txt",
                  "transform /d/f/b.txt", "transform /d/y.txt", "transform /e/z.txt"}));
}

TEST(DropJobRunner, EmptyFolderLeavesTheBarAndCompletes) {
    FakeView view;
    std::vector<fs::path> transformed;
    DropJobRunner runner(view, FakeWork({{"/d/empty", {}}}, &transformed));
    runner.Enqueue({0, {"/d/empty"}, 50});
    ASSERT_TRUE(view.WaitFor(2));
    runner.Stop();
    EXPECT_EQ(view.Events(), (std::vector<std::string>{"begin 0", "end 0"}));
}

TEST(DropJobRunner, StopEndsAWaitForTheUserAndDropsWhatIsQueued) {
    FakeView view;
    view.holdBoxes = true;
    std::vector<fs::path> transformed;
    DropJobRunner runner(view,
                         FakeWork({{"/d/unreadable", {"/d/unreadable/a.txt"}}}, &transformed));
    runner.Enqueue({0, {"/d/unreadable"}, 50});
    runner.Enqueue({1, {"/d/later.txt"}, 50});
    ASSERT_TRUE(view.WaitFor(2));
    const auto before = std::chrono::steady_clock::now();
    runner.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    const auto events = view.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(transformed.empty());
}

}  // namespace
}  // namespace kestrove::testing
