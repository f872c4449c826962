#pragma once
// Deflating the files of a run ahead of their add, on a thread of its own:
// the adds themselves run on the main thread, which at pace 0 also parses
// and dispatches, so the packing work is taken off it. A prepared entry is
// used only while its file is unchanged (same size and modification time)
// and was packed at the level the add asks for; otherwise the add packs the
// file itself as always.
#include <sys/stat.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_map>

namespace hxzip {

struct PackedData {
  std::uint16_t method = 0;  // stored (0) when deflate could not shrink the file
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  std::string data;
};

class FilePacker {
 public:
  // Files above this size are left to the add; prepared data beyond
  // `budget` bytes in all is not made until adds have taken some.
  explicit FilePacker(std::uint64_t largest = 4u << 20, std::uint64_t budget = 64u << 20);
  ~FilePacker();
  FilePacker(const FilePacker&) = delete;
  FilePacker& operator=(const FilePacker&) = delete;

  // Any thread. Level 0 stores.
  void Prepare(const std::string& path, int level);
  // The prepared data of the file (found by its device and inode, so any
  // spelling of its path will do) when it still matches, taken out of the
  // packer; nothing when there is none (or not yet).
  std::optional<PackedData> Take(const struct stat& st, int level);
  // Forgets everything prepared or waiting.
  void Clear();
  // Waits until nothing waits to be packed (for tests).
  void Drain();

 private:
  struct FileId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileId&) const = default;
  };
  struct FileIdHash {
    std::size_t operator()(const FileId& id) const { return std::hash<ino_t>{}(id.ino) * 31 + id.dev; }
  };
  struct Entry {
    PackedData packed;
    int level = 0;
    std::int64_t mtimeNs = 0;
  };
  void Run(std::stop_token stop);
  bool Pack(const std::string& path, int level, Entry& out, FileId& id);

  const std::uint64_t largest_, budget_;
  std::mutex mutex_;
  std::condition_variable_any cv_, idle_;
  std::deque<std::pair<std::string, int>> waiting_;
  std::unordered_map<FileId, Entry, FileIdHash> ready_;
  std::uint64_t held_ = 0;
  bool busy_ = false;
  std::jthread thread_;
};

}  // namespace hxzip
