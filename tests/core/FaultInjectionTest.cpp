// Every system call of a run failing in turn: for each case below the run is made once to count
// its calls, then once per call (or a sample of them, keeping the first and last of each kind)
// with that call failing, for each error of ErrorsToInject(). After each: every file holds exactly
// its old or its new content (a torn file from an earlier crash keeps its undo file until it is
// put back); a file told Done holds its new content, one told Failed its old content (or its new
// one where the failure says so); an interrupted call is never seen. Then one clean run: every file
// in the state that follows from what the failing run left, and no leftover anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

#include "BatchSettings.h"
#include "BatchedTransform.h"
#include "FaultInjection.h"
#include "FileTransformDetail.h"
#include "FolderWalker.h"
#include "PathInfo.h"
#include "TemporaryName.h"
#include "TestPlatform.h"
#include "TransformTestSupport.h"
#include "UndoJournal.h"
#include "UndoRecord.h"

namespace kestrove {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::CallCounter;
using testing::FaultsInPlace;
using testing::InjectedError;
using testing::OldContentOf;
using testing::RandomBytes;
using testing::ReadBytes;
using testing::ReferenceEncrypt;
using testing::ScratchFolder;
using testing::WriteBytes;

constexpr std::int32_t kKey = 97;
#ifdef _WIN32
// Under Wine every call is a round trip to Wine's server, and a run's threads are costly: the
// Windows run samples fewer calls, to stay within a few minutes on two cores.
constexpr std::size_t kMostCallsFailed = 50;
#else
constexpr std::size_t kMostCallsFailed = 120;
#endif

// One real file of a case: its names, what it holds before the run, and its old content (which
// the run first puts back when an earlier crash tore the file).
struct Tracked {
    std::vector<fs::path> names;
    Bytes before;
    Bytes old;
};

using Outcomes = std::map<fs::path, FileOutcome>;

struct Case {
    std::string name;
    std::function<std::vector<Tracked>(const fs::path& root)> setUp;
    std::function<Outcomes(const fs::path& root)> run;
};

Tracked MakeFile(const fs::path& path, std::size_t size, std::uint32_t seed) {
    fs::create_directories(path.parent_path());
    Tracked file{{path}, RandomBytes(size, seed), {}};
    file.old = file.before;
    WriteBytes(path, file.before);
    return file;
}

Tracked MakeLinkedFile(const fs::path& path, const fs::path& second, std::size_t size,
                       std::uint32_t seed) {
    Tracked file = MakeFile(path, size, seed);
    fs::create_hard_link(path, second);
    file.names.push_back(second);
    return file;
}

// The undo file an in-place rewrite of file leaves, committed or not.
void WriteUndoFile(const fs::path& file, const Bytes& old, bool committed) {
    const std::optional<FileId> id = IdentifyFile(file);
    ASSERT_TRUE(id.has_value());
    Bytes copy = old;
    const UndoRecordBytes record =
        EncodeUndoRecord({Direction::Encrypt, kKey, old.size(), id->index, {}});
    copy.insert(copy.end(), record.begin(), record.end());
    const std::string undo = UndoNameOf(".kestrove-abcdefghijkl.1-1.new", id->index);
    WriteBytes(file.parent_path() / (committed ? CommittedNameOf(undo) : undo), copy);
}

// Small blocks, so that files of a few hundred KiB take several.
detail::TransformSettings SmallBlocks() {
    detail::TransformSettings settings;
    settings.blockSize = 64 << 10;
    return settings;
}

Outcomes TransformOne(const fs::path& path, std::size_t blockSize = 0) {
    if (blockSize == 0) {
        return {{path, EncryptFile(path, kKey)}};
    }
    return {{path, detail::TransformFileWith(path, Direction::Encrypt, kKey, {}, SmallBlocks())}};
}

// A folder dropped on the encrypt target, the way the drop worker does it: the walk, the
// leftovers it met settled, every file given to one run in walk order.
Outcomes DropFolder(const fs::path& folder) {
    detail::BatchSettings settings;
    settings.limits.files = 3;
    settings.limits.aloneFrom = 64 << 10;
    settings.flushThreads = 1;  // calls in one order, so that the N-th call is always the same
    settings.transform = SmallBlocks();
    BatchedTransform batch(Direction::Encrypt, kKey, {}, settings);
    std::vector<fs::path> files;
    std::vector<fs::path> leftovers;
    WalkObserver observer;
    observer.onTemporary = [&](const fs::path& temporary) { leftovers.push_back(temporary); };
    (void)CollectFolderFiles({folder}, u"*.*", files, true, observer);
    for (const fs::path& leftover : leftovers) {
        batch.SettleLeftoversOf(leftover);
    }
    Outcomes outcomes;
    for (const fs::path& file : files) {
        if (!batch.Add(file, [&outcomes, file](const FileOutcome& outcome) {
                outcomes[file] = outcome;
                return true;
            })) {
            break;
        }
    }
    (void)batch.Finish();
    return outcomes;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    cases.push_back({"SmallFile",
                     [](const fs::path& root) {
                         return std::vector<Tracked>{MakeFile(root / "small.txt", 3000, 1)};
                     },
                     [](const fs::path& root) { return TransformOne(root / "small.txt"); }});
    cases.push_back({"StreamedFile",
                     [](const fs::path& root) {
                         return std::vector<Tracked>{
                             MakeFile(root / "large.bin", (2 << 20) + 123, 2)};
                     },
                     [](const fs::path& root) { return TransformOne(root / "large.bin"); }});
    cases.push_back({"TwoHardLinks",
                     [](const fs::path& root) {
                         return std::vector<Tracked>{
                             MakeLinkedFile(root / "a.bin", root / "b.bin", 300000, 3)};
                     },
                     [](const fs::path& root) { return TransformOne(root / "a.bin", 64 << 10); }});
#ifndef _WIN32
    cases.push_back({"SymbolicLink",
                     [](const fs::path& root) {
                         Tracked target = MakeFile(root / "real" / "target.bin", 5000, 4);
                         fs::create_symlink("real/target.bin", root / "link.bin");
                         target.names = {root / "link.bin"};
                         return std::vector<Tracked>{target};
                     },
                     [](const fs::path& root) { return TransformOne(root / "link.bin"); }});
#endif
    cases.push_back(
        {"FolderDrop",
         [](const fs::path& root) {
             const fs::path d = root / "d";
             std::vector<Tracked> files;
             for (int i = 1; i <= 4; ++i) {
                 files.push_back(MakeFile(d / (std::to_string(i) + ".txt"), 700u * i, 10 + i));
             }
             files.push_back(MakeFile(d / "sub" / "5.txt", 2000, 15));
             files.push_back(MakeFile(d / "sub" / "big.dat", 200000, 16));
             files.push_back(MakeLinkedFile(d / "sub" / "linked.txt", d / "alias.txt", 9000, 17));
             files.push_back(MakeFile(d / "empty.txt", 0, 18));
             WriteBytes(d / "noext", Bytes{1, 2, 3});
             return files;
         },
         [](const fs::path& root) { return DropFolder(root / "d"); }});
    cases.push_back({"TornInPlaceRewrite",
                     [](const fs::path& root) {
                         Tracked file = MakeLinkedFile(root / "t.bin", root / "t2.bin", 300000, 5);
                         WriteUndoFile(root / "t.bin", file.old, false);
                         // The first blocks were rewritten when the crash came.
                         file.before = ReferenceEncrypt(file.old, kKey);
                         std::copy(file.old.begin() + 100000, file.old.end(),
                                   file.before.begin() + 100000);
                         WriteBytes(root / "t.bin", file.before);
                         return std::vector<Tracked>{file};
                     },
                     [](const fs::path& root) { return TransformOne(root / "t2.bin", 64 << 10); }});
    cases.push_back({"CommittedInPlaceRewrite",
                     [](const fs::path& root) {
                         Tracked file = MakeLinkedFile(root / "c.bin", root / "c2.bin", 200000, 6);
                         WriteUndoFile(root / "c.bin", file.old, true);
                         file.before = ReferenceEncrypt(file.old, kKey);
                         file.old = file.before;  // complete: nothing to put back
                         WriteBytes(root / "c.bin", file.before);
                         return std::vector<Tracked>{file};
                     },
                     [](const fs::path& root) { return TransformOne(root / "c.bin", 64 << 10); }});
    cases.push_back(
        {"JournalLeftBeforeItsCommit",
         [](const fs::path& root) {
             const fs::path d = root / "j";
             std::vector<Tracked> files;
             std::vector<JournalEntry> entries;
             for (int i = 0; i < 3; ++i) {
                 files.push_back(MakeFile(d / (std::to_string(i) + ".txt"), 1000u + i, 20 + i));
                 entries.push_back({IdentifyFile(files.back().names[0])->index,
                                    files.back().names[0].filename().native(), files.back().old});
             }
             const auto journal = EncodeJournal({Direction::Encrypt, kKey, {}}, entries);
             WriteBytes(d / JournalNameOf(".kestrove-abcdefghijkl.1-1.new"),
                        Bytes(journal.begin(), journal.end()));
             // The first was written over when the crash came.
             files[0].before = ReferenceEncrypt(files[0].old, kKey);
             WriteBytes(files[0].names[0], files[0].before);
             return files;
         },
         [](const fs::path& root) { return DropFolder(root / "j"); }});
    cases.push_back({"NewContentLeftBeforeItsRename",
                     [](const fs::path& root) {
                         Tracked file = MakeFile(root / "n.bin", 4000, 7);
                         WriteBytes(root / ".kestrove-mnopqrstuvwx.1-1.new", RandomBytes(4000, 8));
                         return std::vector<Tracked>{file};
                     },
                     [](const fs::path& root) { return TransformOne(root / "n.bin"); }});
    return cases;
}

// Where the cases run: in memory where the system offers a file system there, since thousands of
// runs would otherwise wait for the disk at every flush, which is not what they check.
fs::path FastFolder() {
#ifndef _WIN32
    std::error_code error;
    if (fs::is_directory("/dev/shm", error)) {
        return "/dev/shm";
    }
#endif
    return fs::temp_directory_path();
}

// Our temporary files in the tree, by kind.
std::vector<fs::path> OurFiles(const fs::path& root, std::optional<TemporaryKind> kind = {}) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const TemporaryName name = ParseTemporaryName(entry.path().filename().native());
        if (name.kind != TemporaryKind::None && (!kind || name.kind == *kind)) {
            found.push_back(entry.path());
        }
    }
    return found;
}

// Each byte of now is the old or the new byte at its place.
bool IsMix(const Bytes& now, const Bytes& old, const Bytes& fresh) {
    if (now.size() != old.size()) {
        return false;
    }
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i] != old[i] && now[i] != fresh[i]) {
            return false;
        }
    }
    return true;
}

// A copy of this file's old content that the next run would put back: an undo file beside one of
// its names, or an entry of a journal not yet committed there.
bool HasUndoFile(const fs::path& root, const Tracked& file) {
    const std::optional<FileId> id = IdentifyFile(file.names.front());
    if (!id) {
        return false;
    }
    auto beside = [&](const fs::path& copy) {
        return std::any_of(file.names.begin(), file.names.end(), [&](const fs::path& name) {
            return fs::canonical(name).parent_path() == copy.parent_path();
        });
    };
    for (const fs::path& undo : OurFiles(root, TemporaryKind::Undo)) {
        if (beside(undo) && ParseTemporaryName(undo.filename().native()).fileIndex == id->index) {
            return OldContentOf(undo) == file.old;
        }
    }
    for (const fs::path& journal : OurFiles(root, TemporaryKind::Journal)) {
        const std::optional<DecodedJournal> decoded = DecodeJournal(ReadBytes(journal));
        if (!beside(journal) || !decoded) {
            continue;
        }
        for (const JournalEntry& entry : decoded->entries) {
            if (entry.fileIndex == id->index && entry.old == file.old) {
                return true;
            }
        }
    }
    return false;
}

std::string Describe(const std::vector<fs::path>& paths) {
    std::string text;
    for (const fs::path& path : paths) {
        text += path.filename().string() + " ";
    }
    return text;
}

class FaultInjection : public ::testing::TestWithParam<std::tuple<Case, InjectedError>> {
  protected:
    // What one run with call n failing left, checked; empty when all is well.
    std::string RunFailing(std::uint64_t n) {
        const auto& [testCase, error] = GetParam();
        ScratchFolder folder(FastFolder());
        const std::vector<Tracked> files = testCase.setUp(folder.path());
        Outcomes outcomes;
        {
            CallCounter faults(n, error);
            const FaultsInPlace inPlace(faults);
            outcomes = testCase.run(folder.path());
        }
        std::ostringstream problems;
        std::vector<Bytes> after;
        for (const Tracked& file : files) {
            after.push_back(CheckFailingRun(folder.path(), file, outcomes, problems));
        }
        const std::string leftovers = Describe(OurFiles(folder.path()));
        CheckCleanRun(folder.path(), files, after, problems);
        if (problems.tellp() > 0) {
            problems << "[told:";
            for (const auto& [path, outcome] : outcomes) {
                problems << " " << path.filename().string() << "="
                         << (outcome.ok()              ? "done"
                             : outcome.contentReplaced ? "failed-new"
                                                       : "failed");
            }
            problems << "; left: " << leftovers << "]";
        }
        return problems.str();
    }

  private:
    // What the file is taken to hold after the failing run: an undo file left for it counts.
    Bytes CheckFailingRun(const fs::path& root, const Tracked& file, const Outcomes& outcomes,
                          std::ostringstream& problems) {
        const InjectedError& error = std::get<1>(GetParam());
        const Bytes now = ReadBytes(file.names.front());
        const Bytes fresh = ReferenceEncrypt(file.old, kKey);
        const std::string name = file.names.front().filename().string();
        const bool undo = HasUndoFile(root, file);
        // With a copy left to put back, the file is as good as old whatever it holds now.
        const bool isOld = now == file.old || now == file.before;
        const bool isNew = now == fresh && !undo;
        // Only a crash part-way through a rewrite in place leaves a file torn, its undo file
        // beside it; any other failure puts the old content back at once.
        const bool torn = error.crash && undo && IsMix(now, file.old, fresh);
        if (!isOld && !isNew && !torn) {
            problems << name << " holds neither its old nor its new content; ";
            return now;
        }
        if (now != file.old && !isNew && !undo) {
            problems << name << " is torn and its undo file is gone; ";
        }
        const bool toldAtAll =
            std::any_of(file.names.begin(), file.names.end(),
                        [&](const fs::path& path) { return outcomes.count(path); });
        if (error.interrupt && !toldAtAll) {
            problems << name << " was never told; ";
        }
        // Where an earlier name of a file failed before the file was even opened, a later name
        // may still transform it: each was true when told.
        const bool doneAtAll =
            std::any_of(file.names.begin(), file.names.end(), [&](const auto& path) {
                const auto told = outcomes.find(path);
                return told != outcomes.end() && told->second.ok();
            });
        for (const fs::path& path : file.names) {
            const auto told = outcomes.find(path);
            if (told == outcomes.end()) {
                continue;
            }
            const FileOutcome& outcome = told->second;
            if (error.interrupt && !outcome.ok()) {
                problems << path.filename().string() << " failed on an interrupted call; ";
            }
            if (outcome.ok() && (!isNew || undo)) {
                problems << path.filename().string() << " told done without its new content; ";
            }
            // Its new content said to be in place, the copy of its old content must not be one
            // the next run would put back.
            if (!error.crash && outcome.contentReplaced && undo) {
                problems << path.filename().string()
                         << " has its old content left to be put back; ";
            }
            // (A file that the transform leaves as it is, an empty one, is both.)
            if (!error.crash && outcome.kind == FileOutcome::Kind::Failed && fresh != file.old &&
                outcome.contentReplaced != isNew && !(isNew && doneAtAll)) {
                problems << path.filename().string() << " told failed, yet "
                         << (isNew ? "new" : "old") << "; ";
            }
        }
        if (error.interrupt && !OurFiles(root).empty()) {
            problems << "leftovers after interrupted calls; ";
        }
        return undo ? file.old : now;
    }

    void CheckCleanRun(const fs::path& root, const std::vector<Tracked>& files,
                       const std::vector<Bytes>& after, std::ostringstream& problems) {
        const Outcomes outcomes = std::get<0>(GetParam()).run(root);
        for (const auto& [path, outcome] : outcomes) {
            if (!outcome.ok()) {
                problems << "clean run: " << path.filename().string() << " failed: "
                         << std::string(outcome.failure->description.begin(),
                                        outcome.failure->description.end())
                         << "; ";
            }
        }
        for (std::size_t i = 0; i < files.size(); ++i) {
            for (const fs::path& path : files[i].names) {
                const Bytes now = ReadBytes(path);
                if (now != ReferenceEncrypt(after[i], kKey)) {
                    problems << "clean run: " << path.filename().string()
                             << " not the transform of what the failing run left ("
                             << (now == after[i]       ? "unchanged"
                                 : now == files[i].old ? "old"
                                                       : "other")
                             << "); ";
                }
            }
            if (files[i].names.size() > 1 &&
                IdentifyFile(files[i].names[0]) != IdentifyFile(files[i].names[1])) {
                problems << files[i].names[0].filename().string() << " lost its second name; ";
            }
        }
        if (!OurFiles(root).empty()) {
            problems << "clean run left " << OurFiles(root).front().filename().string() << "; ";
        }
#ifndef _WIN32
        if (fs::exists(root / "link.bin", ignored) && !fs::is_symlink(root / "link.bin")) {
            problems << "the link is no longer a link; ";
        }
#endif
    }

    std::error_code ignored;
};

TEST_P(FaultInjection, EveryFileWholeAndEverySuccessTrue) {
    const Case& testCase = std::get<0>(GetParam());
    // The calls of a run without failures.
    std::vector<platform::SystemCall> kinds;
    {
        ScratchFolder folder(FastFolder());
        (void)testCase.setUp(folder.path());
        CallCounter counter;
        const FaultsInPlace inPlace(counter);
        (void)testCase.run(folder.path());
        kinds = counter.kinds();
    }
    ASSERT_FALSE(kinds.empty());
    for (const std::uint64_t n : testing::CallsToFail(kinds, kMostCallsFailed)) {
        const std::string problems = RunFailing(n);
        EXPECT_TRUE(problems.empty()) << "call " << n << " of " << kinds.size() << " ("
                                      << testing::NameOf(kinds[n - 1]) << "): " << problems;
    }
}

void PrintTo(const Case& testCase, std::ostream* out) {
    *out << testCase.name;
}

std::string CaseName(const ::testing::TestParamInfo<FaultInjection::ParamType>& info) {
    return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Calls, FaultInjection,
                         ::testing::Combine(::testing::ValuesIn(Cases()),
                                            ::testing::ValuesIn(testing::ErrorsToInject())),
                         CaseName);

}  // namespace
}  // namespace kestrove
