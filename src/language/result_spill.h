#pragma once
// ResultSpill: where the result records of a long run go once they leave memory. Items of one
// tree append blocks of their oldest records to one unnamed, append-only file of the run and
// read them back, in order, when the results document is written or a client asks for an old
// result. The file has no name in any directory: it disappears with its last reader, after the
// run or after a crash alike, and never outlives the results it holds.
//
// Threads: every operation is safe to call from any thread. Items call Append with no lock of
// their own held, and Read with their result lock held; the spill's lock is always taken after
// an item's lock, never before.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "language/result_record.h"
#include "platform/file_descriptor.h"

namespace ordalis {

// How many result records a tree keeps in memory before spilling.
struct SpillWindow {
  // An item spills its in-memory records as one block once it holds this many.
  std::size_t per_item = 512;
  // Past this many in-memory records over the whole tree, any item that records spills what
  // it holds, however little.
  std::size_t per_tree = 65536;
  // Whether an item keeps a record of its first Passed run only and counts the later ones: for
  // a run whose results document folds every Passed run of a statement into its first anyway.
  bool fold_passed = false;
};

// Appended blocks are written to the file in whole pages, once this many bytes are pending.
inline constexpr std::size_t kSpillWriteBytes = 64 * 1024;
inline constexpr std::size_t kSpillPageBytes = 4096;

class ResultSpill {
 public:
  // One spilled run of consecutive records of one item.
  struct Block {
    std::uint64_t offset = 0;
    std::uint32_t bytes = 0;
    std::uint32_t count = 0;
  };

  // A spill whose file is made, on the first append, in [directory], or in $TMPDIR (else /tmp)
  // when the directory cannot hold it.
  explicit ResultSpill(std::string directory, SpillWindow window = {});
  ResultSpill(const ResultSpill&) = delete;
  ResultSpill& operator=(const ResultSpill&) = delete;

  const SpillWindow& window() const { return window_; }

  // Writes [records] as one block and describes it in [block]. False when the file cannot be
  // made or written: the caller keeps the records in memory, nothing is lost.
  bool Append(const std::vector<ResultRecord>& records, Block* block);
  // Reads [block] back into [records] (appended, in order). False when it cannot be read.
  bool Read(const Block& block, std::vector<ResultRecord>* records) const;
  // Record [index] of [block]; the last block read is kept, so reading a block's records one
  // by one decodes it once.
  bool ReadOne(const Block& block, std::size_t index, ResultRecord* record) const;

  // The count of records items of the tree hold in memory, kept by the items.
  void Held(std::ptrdiff_t change) { in_memory_.fetch_add(change, std::memory_order_relaxed); }
  bool OverTreeWindow() const {
    return in_memory_.load(std::memory_order_relaxed) >= static_cast<std::ptrdiff_t>(window_.per_tree);
  }
  // Bytes appended so far, in the file or still pending.
  std::uint64_t size() const;

 private:
  bool OpenLocked();
  bool FlushLocked();
  bool ReadLocked(const Block& block, std::vector<ResultRecord>* records) const;

  const std::string directory_;
  const SpillWindow window_;
  std::atomic<std::ptrdiff_t> in_memory_{0};
  mutable std::mutex mutex_;
  FileDescriptor file_;
  bool open_failed_ = false;
  // Bytes appended so far; the first [written_] of them are in the file, the rest in [pending_].
  std::uint64_t end_ = 0;
  std::uint64_t written_ = 0;
  std::string pending_;
  mutable std::uint64_t cached_offset_ = ~std::uint64_t{0};
  mutable std::vector<ResultRecord> cached_;
};

// The bytes of [records] as a spill block holds them, and back. Decode is false on a damaged
// block.
void EncodeRecords(const std::vector<ResultRecord>& records, std::string* bytes);
bool DecodeRecords(std::string_view bytes, std::vector<ResultRecord>* records);

}  // namespace ordalis
