// The folder drop as the program runs it (DropJobRunner with the core's walk and group commit)
// against other rewrites of the same files in the same run, interleaved:
//   in place   each file opened, read, transformed, written over, closed; nothing flushed: the
//              physical floor of this work;
//   in place+s the same, then one syncfs of the file system: the floor of a durable rewrite
//              (without any crash safety);
//   unflushed  each file's new content to a temporary file and renamed over it, nothing flushed;
//   per file   the drop worker with every file flushed before its rename, each folder synced
//              once per run of files in it: the way before group commit;
//   ccrypt     `ccrypt -e -r` (then `-d -r`, timed too) on the same tree, when ccrypt is
//              installed: the classic in-place encryptor a user might pick instead.
// Each measurement alternates encryption and decryption, so the files end as they began.
//
// KESTROVE_BENCH_FLUSH=syncfs makes each batch flush the whole file system with syncfs instead
// of flushing its files together; KESTROVE_BENCH_FLUSH_THREADS=N sets how many flushes are in
// flight at once, KESTROVE_BENCH_BATCH_FILES=N how many files a batch holds at most. They exist
// to compare the ways of making a batch durable.

#include "FolderBench.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "BatchSettings.h"
#include "BatchedTransform.h"
#include "DropJobRunner.h"
#include "FileTransformDetail.h"
#include "FolderWalker.h"
#include "Keystream.h"
#include "TemporaryName.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kestrove::Direction;

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr std::size_t kFileSize = 4096;

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

bool MakeTree(const fs::path& root) {
    std::vector<char> content(kFileSize);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 31 + 7);
    }
    for (int d = 0; d < kFolders; ++d) {
        char name[16];
        std::snprintf(name, sizeof name, "d%02d", d);
        const fs::path folder = root / name;
        fs::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            std::snprintf(name, sizeof name, "f%03d.bin", f);
            std::ofstream out(folder / name, std::ios::binary);
            out.write(content.data(), static_cast<std::streamsize>(content.size()));
            if (!out) {
                return false;
            }
        }
    }
    ::sync();
    return true;
}

// Records nothing on screen; tells when the drop has ended.
class QuietView final : public kestrove::DropView {
  public:
    void BeginDrop(int) override {}
    void SetProgress(std::size_t, std::size_t) override { ++m_widths; }
    void EndDrop(int) override { Done(true); }
    void ReportFailure(const kestrove::FileFailure&, std::stop_token) override { ++m_failures; }
    void AbandonDrop(int, std::stop_token) override { Done(false); }

    // True when the drop completed without a failure.
    bool Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_ended; });
        m_ended = false;
        const bool clean = m_completed && m_failures == 0;
        m_failures = 0;
        return clean;
    }
    [[nodiscard]] std::size_t widths() const { return m_widths; }

  private:
    void Done(bool completed) {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
            m_completed = completed;
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
    bool m_completed = false;
    int m_failures = 0;
    std::size_t m_widths = 0;
};

kestrove::detail::BatchSettings SettingsFromEnvironment() {
    kestrove::detail::BatchSettings settings;
    if (const char* threads = std::getenv("KESTROVE_BENCH_FLUSH_THREADS")) {
        settings.flushThreads = static_cast<unsigned>(std::max(1, std::atoi(threads)));
    }
    if (const char* files = std::getenv("KESTROVE_BENCH_BATCH_FILES")) {
        settings.limits.files = static_cast<std::size_t>(std::max(1, std::atoi(files)));
    }
    const char* flush = std::getenv("KESTROVE_BENCH_FLUSH");
    if (flush != nullptr && std::strcmp(flush, "syncfs") == 0) {
        settings.flush = [](const std::vector<kestrove::platform::NativeFile*>& files,
                            std::vector<kestrove::platform::IoStatus>& results) {
            if (!files.empty() && ::syncfs(static_cast<int>(files.front()->handle())) != 0) {
                results.assign(files.size(), kestrove::platform::IoError{u"syncfs failed"});
            }
        };
    }
    return settings;
}

// One whole drop of root through the drop worker; the seconds it took, negative on failure.
double TimeDrop(const fs::path& root, Direction direction, int key, bool batched) {
    QuietView view;
    kestrove::DropWork work = kestrove::DropWork::FromCore();
    const kestrove::detail::BatchSettings settings = SettingsFromEnvironment();
    work.startBatch = [batched, settings](Direction d, std::int32_t k, std::stop_token stop) {
        if (batched) {
            return std::unique_ptr<kestrove::FileBatch>(
                std::make_unique<kestrove::BatchedTransform>(d, k, std::move(stop), settings));
        }
        return std::unique_ptr<kestrove::FileBatch>(
            std::make_unique<kestrove::OneByOneTransform>(d, k, std::move(stop)));
    };
    kestrove::DropJobRunner runner(view, std::move(work));
    const Clock::time_point start = Clock::now();
    runner.Enqueue({direction == Direction::Encrypt ? 0 : 1, {root}, key});
    const bool clean = view.Wait();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return clean ? seconds : -1;
}

// The same walk and rewrite without the program's safety: read, transform, write a temporary
// file, rename it over the file; nothing is flushed.
double TimeUnflushed(const fs::path& root, Direction direction, int key) {
    const Clock::time_point start = Clock::now();
    std::vector<fs::path> files;
    kestrove::CollectFolderFiles({root}, u"*.*", files, true);
    const kestrove::KeystreamTable table(static_cast<std::uint32_t>(key));
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    for (const fs::path& file : files) {
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        const fs::path temp =
            file.parent_path() / kestrove::MakeTemporaryName(kestrove::platform::CurrentProcess());
        const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        bool ok = in >= 0 && out >= 0;
        std::uint64_t done = 0;
        while (ok) {
            const ssize_t got = ::read(in, buffer.data(), buffer.size());
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            table.Apply(direction, buffer.data(), static_cast<std::size_t>(got), done + 1);
            ok = ::write(out, buffer.data(), static_cast<std::size_t>(got)) == got;
            done += static_cast<std::uint64_t>(got);
        }
        ok = (in < 0 || ::close(in) == 0) && ok;
        ok = (out < 0 || ::close(out) == 0) && ok;
        if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
            ::unlink(temp.c_str());
            return -1;
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One syncfs for the file system that holds the tree.
bool SyncFileSystemOf(const fs::path& root) {
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::syncfs(fd) == 0;
    return ::close(fd) == 0 && synced;
}

// Walk and rewrite over the files themselves: open, read, write over, close; nothing flushed, or,
// when durable, the whole file system flushed once at the end (durable, yet no crash safety).
double TimeInPlace(const fs::path& root, Direction direction, int key, bool durable = false) {
    const Clock::time_point start = Clock::now();
    kestrove::FileList files;
    kestrove::CollectFolderFiles({root}, u"*.*", files, true);
    const kestrove::KeystreamTable table(static_cast<std::uint32_t>(key));
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path file = files.PathAt(i);
        const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return -1;
        }
        bool ok = true;
        std::uint64_t done = 0;
        while (ok) {
            const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(done));
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            table.Apply(direction, buffer.data(), static_cast<std::size_t>(got), done + 1);
            ok = ::pwrite(fd, buffer.data(), static_cast<std::size_t>(got),
                          static_cast<off_t>(done)) == got;
            done += static_cast<std::uint64_t>(got);
        }
        if (::close(fd) != 0 || !ok) {
            return -1;
        }
    }
    if (durable && !SyncFileSystemOf(root)) {
        return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ccrypt over the tree with a key of its own; the wall time, negative on failure.
double TimeCcrypt(const fs::path& root, const char* mode) {
    const std::string command =
        std::string("ccrypt ") + mode + " -r -f -K kestrove-bench '" + root.string() + "'";
    const Clock::time_point start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return status == 0 ? seconds : -1;
}

bool HaveCcrypt() {
    return std::system("command -v ccrypt >/dev/null 2>&1") == 0;
}

struct Series {
    const char* name;
    std::vector<double> seconds;

    [[nodiscard]] double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    [[nodiscard]] double Median() const {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t middle = sorted.size() / 2;
        return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    }
    void Print() const {
        std::printf("%-10s best %7.3f s  median %7.3f s  runs:", name, Best(), Median());
        for (const double value : seconds) {
            std::printf(" %.3f", value);
        }
        std::printf("\n");
    }
};

}  // namespace

int RunFolderBench(const fs::path& folder, int key, int runs) {
    if (!fs::exists(folder)) {
        std::printf("making %d files of %zu bytes in %d folders under %s\n",
                    kFolders * kFilesPerFolder, kFileSize, kFolders, folder.c_str());
        if (!MakeTree(folder)) {
            std::fprintf(stderr, "cannot make the tree\n");
            return 1;
        }
    }
    std::printf("load average at the start: %s\n", LoadAverage().c_str());
    const bool ccrypt = HaveCcrypt();
    Series ours{"ours", {}};
    Series inPlace{"in place", {}};
    Series inPlaceSynced{"in place+s", {}};
    Series unflushed{"unflushed", {}};
    Series perFile{"per file", {}};
    Series classic{"ccrypt", {}};
    std::vector<Series*> order = {&ours, &inPlace, &inPlaceSynced, &unflushed, &perFile};
    if (ccrypt) {
        order.push_back(&classic);
    }
    int measurement = 0;
    for (int run = 0; run < runs; ++run) {
        for (std::size_t turn = 0; turn < order.size(); ++turn) {
            // Rotated, so that no way always follows the same other one.
            Series& series = *order[(static_cast<std::size_t>(run) + turn) % order.size()];
            ::sync();  // the previous measurement's writes are not this one's to pay
            if (&series == &classic) {
                // It renames the files as it goes: encrypted and decrypted again in one turn.
                const double encrypted = TimeCcrypt(folder, "-e");
                ::sync();
                const double decrypted = encrypted < 0 ? -1 : TimeCcrypt(folder, "-d");
                if (decrypted < 0) {
                    std::fprintf(stderr, "ccrypt failed\n");
                    return 1;
                }
                series.seconds.push_back(encrypted);
                series.seconds.push_back(decrypted);
                continue;
            }
            const Direction direction =
                measurement++ % 2 == 0 ? Direction::Encrypt : Direction::Decrypt;
            const double seconds = &series == &unflushed ? TimeUnflushed(folder, direction, key)
                                   : &series == &inPlace || &series == &inPlaceSynced
                                       ? TimeInPlace(folder, direction, key, &series != &inPlace)
                                       : TimeDrop(folder, direction, key, &series == &ours);
            if (seconds < 0) {
                std::fprintf(stderr, "%s failed\n", series.name);
                return 1;
            }
            series.seconds.push_back(seconds);
        }
    }
    if (measurement % 2 == 1 && TimeInPlace(folder, Direction::Decrypt, key) < 0) {
        std::fprintf(stderr, "cannot put the files back\n");
        return 1;
    }
    std::printf("folder: %s, %d runs each, interleaved\n", folder.c_str(), runs);
    for (const Series* series : order) {
        series->Print();
    }
    std::printf("ratio ours/in place:  best %.2f, median %.2f (goal <= 1.3)\n",
                ours.Best() / inPlace.Best(), ours.Median() / inPlace.Median());
    std::printf("ratio ours/in place+s: best %.2f, median %.2f (flushed once, no crash safety)\n",
                ours.Best() / inPlaceSynced.Best(), ours.Median() / inPlaceSynced.Median());
    if (ccrypt) {
        std::printf("ratio ours/ccrypt:    best %.2f, median %.2f (goal <= 2)\n",
                    ours.Best() / classic.Best(), ours.Median() / classic.Median());
    }
    std::printf("ratio ours/unflushed: best %.2f, median %.2f\n", ours.Best() / unflushed.Best(),
                ours.Median() / unflushed.Median());
    std::printf("ratio per-file/ours:  best %.1f, median %.1f\n", perFile.Best() / ours.Best(),
                perFile.Median() / ours.Median());
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %ld KiB; load average at the end: %s\n", usage.ru_maxrss,
                LoadAverage().c_str());
    return 0;
}

namespace {

constexpr int kMillionFolders = 100;  // of 100 subfolders of 100 files each
constexpr std::size_t kMillionFileSize = 100;

bool MakeMillionTree(const fs::path& root) {
    std::vector<char> content(kMillionFileSize);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 13 + 5);
    }
    char name[32];
    for (int top = 0; top < kMillionFolders; ++top) {
        for (int sub = 0; sub < kMillionFolders; ++sub) {
            std::snprintf(name, sizeof name, "t%02d/s%02d", top, sub);
            const fs::path folder = root / name;
            fs::create_directories(folder);
            for (int f = 0; f < kMillionFolders; ++f) {
                std::snprintf(name, sizeof name, "f%02d.dat", f);
                const int fd =
                    ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0 || ::write(fd, content.data(), content.size()) !=
                                  static_cast<ssize_t>(content.size())) {
                    return false;
                }
                ::close(fd);
            }
        }
    }
    ::sync();
    return true;
}

}  // namespace

int RunMillionBench(const fs::path& folder, int key) {
    if (!fs::exists(folder)) {
        std::printf("making 1,000,000 files of %zu bytes in 10,000 folders under %s\n",
                    kMillionFileSize, folder.c_str());
        const Clock::time_point start = Clock::now();
        if (!MakeMillionTree(folder)) {
            std::fprintf(stderr, "cannot make the tree\n");
            return 1;
        }
        std::printf("made in %.0f s\n",
                    std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::printf("load average at the start: %s\n", LoadAverage().c_str());
    for (const Direction direction : {Direction::Encrypt, Direction::Decrypt}) {
        // Each drop in a process of its own, whose peak memory is the drop's.
        int fds[2];
        if (::pipe(fds) != 0) {
            return 1;
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const double seconds = TimeDrop(folder, direction, key, true);
            [[maybe_unused]] const ssize_t sent = ::write(fds[1], &seconds, sizeof seconds);
            ::_exit(0);
        }
        ::close(fds[1]);
        double seconds = -1;
        if (::read(fds[0], &seconds, sizeof seconds) != sizeof seconds) {
            seconds = -1;
        }
        ::close(fds[0]);
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        if (seconds < 0) {
            std::fprintf(stderr, "the drop failed\n");
            return 1;
        }
        std::printf("%s drop of the tree: %.1f s, peak memory %.1f MiB (goal < 150 MiB: %s)\n",
                    direction == Direction::Encrypt ? "encrypt" : "decrypt", seconds,
                    usage.ru_maxrss / 1024.0, usage.ru_maxrss < 150 * 1024 ? "met" : "missed");
    }
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    return 0;
}
