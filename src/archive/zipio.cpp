#include "archive/zipio.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace hxzip {

UniqueFd::~UniqueFd() { Reset(); }

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

long long ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
  auto* out = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

bool ReadExactAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
  return ReadAt(fd, data, size, offset) == static_cast<long long>(size);
}

bool WriteAt(int fd, std::string_view data, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

long long FileSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

LockResult TryLock(int fd, bool exclusive) {
  while (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? LockResult::Busy : LockResult::Failed;
  }
  return LockResult::Locked;
}

int CopyToFile(int fd, const std::string& path) {
  std::string temp = path + ".tmp-XXXXXX";
  UniqueFd out(::mkostemp(temp.data(), O_CLOEXEC));
  if (!out.Valid()) return errno;
  std::vector<char> buffer(1 << 20);
  std::uint64_t offset = 0;
  int error = 0;
  for (;;) {
    const long long n = ReadAt(fd, buffer.data(), buffer.size(), offset);
    if (n < 0) {
      error = errno;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(out.Get(), std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
      error = errno;
      break;
    }
    offset += static_cast<std::uint64_t>(n);
  }
  if (error == 0 && ::fchmod(out.Get(), 0644) != 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

}  // namespace hxzip
