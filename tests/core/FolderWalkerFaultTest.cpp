#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "FolderWalker.h"
#include "TextCodec.h"
#include "WalkerTestSupport.h"

namespace kestrove::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr uid_t kNobody = 65534;

std::vector<std::string> FileNames(const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (const auto& path : paths) {
        names.push_back(path.filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FolderWalkFailures, FolderThatCannotBeListedIsSkippedAndTheLevelGoesOn) {
    FakeDirectorySource source;
    source.Add("R", {"r.txt", "C/", "A/", "B/", "D/"});
    source.Add("R/C", {"c.txt"});
    source.Add("R/A", {"a.txt", "A1/"});
    source.Add("R/A/A1", {"a1.txt"});
    source.Add("R/B", {"b.txt", "B1/"}).openFailure = u"Permission denied";
    source.Add("R/B/B1", {"b1.txt"});
    source.Add("R/D", {"d1.txt", "d2.txt", "D1/", "d3.txt"}).failAfter = 2;
    source.Add("R/D/D1", {"never.txt"});
    std::vector<FileFailure> failures;
    WalkObserver observer;
    observer.onFailure = [&](const FileFailure& failure) { failures.push_back(failure); };
    std::vector<fs::path> results;
    EXPECT_EQ(CollectFolderFiles({"R"}, u"*.*", results, true, observer, source),
              WalkEnd::Completed);
    EXPECT_THAT(AsStrings(results), ElementsAre("R/r.txt", "R/C/c.txt", "R/A/a.txt", "R/D/d1.txt",
                                                "R/D/d2.txt", "R/A/A1/a1.txt"));
    EXPECT_THAT(failures, ElementsAre(FileFailure{"R/B", u"Permission denied"},
                                      FileFailure{"R/D", u"Input/output error"}));
}

TEST(FolderWalkFailures, MissingStartingFolderIsReportedAndTheOthersAreWalked) {
    TempTree tree;
    tree.File("R/r.txt");
    std::vector<FileFailure> failures;
    WalkObserver observer;
    observer.onFailure = [&](const FileFailure& failure) { failures.push_back(failure); };
    const fs::path missing = tree.root() / "missing";
    const auto paths = WalkPaths({" " + missing.string(), tree.root() / "R"}, u"*.*", observer);
    EXPECT_THAT(paths, ElementsAre((tree.root() / "R/r.txt").string()));
    EXPECT_THAT(failures, ElementsAre(FileFailure{missing, SystemErrorText(ENOENT)}));
}

// Nine folders, each with a file and a subfolder with a file; returns the one that the listing
// of R delivers fifth, so that it sits in the middle of its level whatever the listing order.
std::string BuildLevelWithMiddleFolder(const TempTree& tree) {
    for (char c = '1'; c <= '9'; ++c) {
        tree.File(std::string("R/F") + c + "/f" + c + ".txt");
        tree.File(std::string("R/F") + c + "/sub/s" + c + ".txt");
    }
    std::vector<std::string> order;
    for (const auto& entry : fs::directory_iterator(tree.root() / "R")) {
        order.push_back(entry.path().string());
    }
    return order.at(4);
}

std::vector<std::string> WithoutFolder(std::vector<std::string> paths, const std::string& folder) {
    std::erase_if(paths, [&](const std::string& path) { return path.starts_with(folder + "/"); });
    return paths;
}

struct ChildWalk {
    int status = -1;
    std::string output;
};

// Walks root in a child process that is not root (it gives root up when it has it), so that a
// folder closed to others cannot be listed even when the tests run as root.
ChildWalk WalkAsAnotherUser(const fs::path& root) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 ||
                               setuid(kNobody) != 0 || geteuid() != kNobody)) {
            _exit(3);
        }
        std::string out;
        WalkObserver observer;
        observer.onFailure = [&](const FileFailure& failure) {
            out += "!" + failure.path.string() + " " + Utf16ToUtf8(failure.description) + "\n";
        };
        std::vector<fs::path> results;
        CollectFolderFiles({root}, u"*.*", results, true, observer);
        for (const auto& path : results) {
            out += path.string() + "\n";
        }
        const bool written = write(pipeFds[1], out.data(), out.size()) == ssize_t(out.size());
        _exit(written ? 0 : 4);
    }
    close(pipeFds[1]);
    ChildWalk walk;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        walk.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    waitpid(pid, &walk.status, 0);
    return walk;
}

TEST(FolderWalkFailures, FolderClosedToTheWalkingUserInTheMiddleOfALevel) {
    TempTree tree;
    const std::string middle = BuildLevelWithMiddleFolder(tree);
    const std::string root = (tree.root() / "R").string();
    const auto expected = WithoutFolder(ExpectedWalk({root}, [](auto&) { return true; }), middle);
    ASSERT_EQ(expected.size(), 16u);
    ASSERT_EQ(chmod(middle.c_str(), 0), 0);

    const ChildWalk walk = WalkAsAnotherUser(root);
    ASSERT_TRUE(WIFEXITED(walk.status)) << walk.status;
    ASSERT_EQ(WEXITSTATUS(walk.status), 0) << "the child could not give up root";
    std::string wanted = "!" + middle + " " + Utf16ToUtf8(SystemErrorText(EACCES)) + "\n";
    for (const auto& path : expected) {
        wanted += path + "\n";
    }
    EXPECT_EQ(walk.output, wanted);
}

TEST(FolderWalkLinks, CycleEndsAndEachRealFolderIsListedOnce) {
    TempTree tree;
    tree.File("R/A/x.txt");
    tree.File("R/B/y.txt");
    tree.Link("R/A/up", "..");
    tree.Link("R/B/self", ".");
    tree.Link("R/loop", tree.root() / "R");
    std::size_t entries = 0;
    WalkObserver observer;
    observer.onEntry = [&] { return ++entries < 100000; };
    std::vector<fs::path> results;
    EXPECT_EQ(CollectFolderFiles({tree.root() / "R"}, u"*.*", results, true, observer),
              WalkEnd::Completed);
    EXPECT_THAT(AsStrings(results), UnorderedElementsAre((tree.root() / "R/A/x.txt").string(),
                                                         (tree.root() / "R/B/y.txt").string()));
    // The same folder given twice is listed once too.
    CollectFolderFiles({tree.root() / "R/B", tree.root() / "R/B/"}, u"*.*", results, true);
    EXPECT_THAT(AsStrings(results), ElementsAre((tree.root() / "R/B/y.txt").string()));
}

TEST(FolderWalkLinks, LinkToAFolderAlreadyWalkedDoesNotRepeatItsFiles) {
    TempTree tree;
    tree.File("R/A/x.txt");
    tree.File("R/A/deep/y.txt");
    tree.File("R/B/b.txt");
    tree.Link("R/L", "A");
    tree.Link("R/B/L2", "../A/deep");
    std::vector<fs::path> results;
    CollectFolderFiles({tree.root() / "R"}, u"*.*", results, true);
    EXPECT_THAT(FileNames(results), ElementsAre("b.txt", "x.txt", "y.txt"));
}

TEST(FolderWalkLinks, LinksCountAsWhatTheyLeadTo) {
    TempTree tree;
    tree.File("O/o.txt");
    tree.File("O/.hidden/h.txt");
    tree.File("O2/z.txt");
    tree.File("R/r.txt");
    tree.Link("R/ext", tree.root() / "O");
    tree.Link("R/file.lnk", tree.root() / "O/o.txt");
    tree.Link("R/.dotlink", tree.root() / "O2");
    tree.Link("R/dead.lnk", tree.root() / "nowhere");
    const fs::path r = tree.root() / "R";
    auto paths = WalkPaths({r}, u"*.*");
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths.back(), (r / "ext/o.txt").string());
    paths.pop_back();
    EXPECT_THAT(paths, UnorderedElementsAre((r / "r.txt").string(), (r / "file.lnk").string(),
                                            (r / "dead.lnk").string()));
}

TEST(FolderWalkObserver, EntryHookSeesEveryEntryAndCanStopTheWalk) {
    FakeDirectorySource source;
    source.Add("R", {"a.txt", "b.txt", "S/", "c.txt"});
    source.Add("R/S", {"s.txt"});
    int calls = 0;
    WalkObserver observer;
    observer.onEntry = [&] { return ++calls != 2; };
    std::vector<fs::path> results;
    EXPECT_EQ(CollectFolderFiles({"R"}, u"*.*", results, true, observer, source), WalkEnd::Stopped);
    EXPECT_EQ(calls, 2);
    EXPECT_THAT(AsStrings(results), ElementsAre("R/a.txt", "R/b.txt"));
    EXPECT_THAT(source.opened(), ElementsAre("R"));

    calls = 100;
    EXPECT_EQ(CollectFolderFiles({"R"}, u"*.*", results, true, observer, source),
              WalkEnd::Completed);
    EXPECT_EQ(calls, 105);
    EXPECT_EQ(results.size(), 4u);
}

TEST(FolderWalkObserver, EachRealFolderIsReadOnceEntryByEntry) {
    TempTree tree;
    tree.File("R/a.txt");
    tree.File("R/b");
    tree.File("R/c.txt");
    tree.File("R/S/s1.txt");
    tree.File("R/S/s2.txt");
    tree.File("R/.git/g.txt");
    std::size_t entries = 0;
    WalkObserver observer;
    observer.onEntry = [&] { return ++entries > 0; };
    EXPECT_EQ(WalkPaths({tree.root() / "R"}, u"*.*", observer).size(), 4u);
    // R: ".", "..", three files, S and .git; S: ".", ".." and two files.
    EXPECT_EQ(entries, 11u);
}

TEST(FolderWalkLimits, MoreThan32767FoldersOnOneLevel) {
    FakeDirectorySource source;
    std::vector<std::string> folders;
    char name[16];
    for (int i = 0; i < 40000; ++i) {
        std::snprintf(name, sizeof name, "d%05d", i);
        folders.push_back(std::string(name) + "/");
        source.Add(std::string("R/") + name, {"f.txt"});
    }
    source.Add("R", folders);
    std::vector<fs::path> results;
    EXPECT_EQ(CollectFolderFiles({"R"}, u"*.*", results, true, {}, source), WalkEnd::Completed);
    ASSERT_EQ(results.size(), 40000u);
    EXPECT_EQ(results[32767].native(), "R/d32767/f.txt");
    EXPECT_EQ(results.back().native(), "R/d39999/f.txt");
}

}  // namespace
}  // namespace kestrove::testing
