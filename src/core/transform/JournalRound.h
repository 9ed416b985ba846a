#pragma once

// Internal to kestrove_core: the small files of a batch, written over in place under the
// protection of undo journals (UndoJournal.h), one per folder.
//
//   Prepare  the old content of every small file goes into its folder's journal, which is named
//            as a journal and made durable before any file is touched;
//   Write    each file's new content, in one write, in its turn;
//   Settle   the files written are made durable, the journals are marked committed and made
//            durable, then removed; only then is a file done. Where that fails, the files written
//            get their old content back (or, where even that fails, the journal stays for the next
//            run to put it back).
//
// A crash at any moment leaves each file whole (a write of one page is not cut in two by a crash
// of the process) or, after a power cut, mended by the next run over its folder from the journal.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "FileTransformDetail.h"
#include "PlatformFile.h"

namespace kestrove::detail {

class JournalRound {
  public:
    JournalRound(Direction direction, std::uint32_t key);
    ~JournalRound();
    JournalRound(const JournalRound&) = delete;
    JournalRound& operator=(const JournalRound&) = delete;

    // Before Prepare.
    void Add(SmallFile& file);
    [[nodiscard]] bool empty() const { return m_files.empty(); }

    // Writes and names the journals and makes them durable. A failure means no file may be
    // written in this round.
    [[nodiscard]] platform::IoStatus Prepare();

    // Writes the file's new content over it (after Prepare); on failure the file keeps its old
    // content.
    [[nodiscard]] platform::IoStatus Write(SmallFile& file);

    // Makes the files written so far and the given folders (where other files of the batch were
    // renamed) durable, then commits and removes the journals. What became of each file written
    // is left in its settled and settledFailure; the result says whether the folders were made
    // durable (none: they were).
    [[nodiscard]] platform::IoStatus Settle(const std::vector<std::filesystem::path>& folders);

  private:
    struct Journal;
    platform::IoStatus RollBack(const std::vector<std::size_t>& written);
    void Undo(const std::vector<std::size_t>& written, const platform::IoError& why);
    void RemoveJournals();
    std::vector<std::filesystem::path> Folders() const;
    std::vector<const platform::NativeFile*> JournalFiles() const;

    Direction m_direction;
    std::uint32_t m_key;
    std::vector<SmallFile*> m_files;
    std::vector<std::unique_ptr<Journal>> m_journals;
    std::vector<std::size_t> m_journalOf;  // per file: its journal
};

}  // namespace kestrove::detail
