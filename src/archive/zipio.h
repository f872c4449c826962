#pragma once
// File descriptors for the archive code: an owning descriptor, reads and
// writes at an offset that never stop half way, and the advisory lock that
// keeps two writers (or a writer and a reader) off one archive.
#include <cstdint>
#include <string>
#include <string_view>

namespace hxzip {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Reads up to size bytes at offset, retrying short reads; returns the bytes
// read (fewer only at the end of the file), or -1 with errno set.
long long ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset);
// True when exactly size bytes were read at offset.
bool ReadExactAt(int fd, void* data, std::size_t size, std::uint64_t offset);
// Writes all bytes at offset; false with errno set on failure.
bool WriteAt(int fd, std::string_view data, std::uint64_t offset);
// Writes all bytes at the current position of fd.
bool WriteAll(int fd, std::string_view data);

// Size of the file behind fd, or -1 with errno set.
long long FileSize(int fd);

enum class LockResult { Locked, Busy, Failed };
// A non-blocking flock: another holder gives Busy at once instead of a wait,
// so a pipeline step never hangs behind a writer in another process.
LockResult TryLock(int fd, bool exclusive);

// Copies the whole file behind fd to path, replacing what is there; the copy
// is complete or absent (temp name, then rename). Returns 0 or an errno.
int CopyToFile(int fd, const std::string& path);

}  // namespace hxzip
