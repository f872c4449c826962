#include "archive/zippack.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "archive/zipio.h"

namespace hxzip {

namespace {

std::int64_t MtimeNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

FilePacker::FilePacker(std::uint64_t largest, std::uint64_t budget)
    : largest_(largest), budget_(budget), thread_([this](std::stop_token stop) { Run(stop); }) {}

FilePacker::~FilePacker() {
  thread_.request_stop();
  cv_.notify_all();
}

void FilePacker::Prepare(const std::string& path, int level) {
  {
    std::lock_guard lock(mutex_);
    waiting_.emplace_back(path, level);
  }
  cv_.notify_all();
}

std::optional<PackedData> FilePacker::Take(const struct stat& st, int level) {
  std::lock_guard lock(mutex_);
  const auto it = ready_.find(FileId{st.st_dev, st.st_ino});
  if (it == ready_.end()) return std::nullopt;
  Entry entry = std::move(it->second);
  ready_.erase(it);
  held_ -= entry.packed.data.size();
  if (entry.level != level || entry.packed.size != static_cast<std::uint64_t>(st.st_size) || entry.mtimeNs != MtimeNs(st))
    return std::nullopt;
  return std::move(entry.packed);
}

void FilePacker::Clear() {
  std::lock_guard lock(mutex_);
  waiting_.clear();
  ready_.clear();
  held_ = 0;
}

void FilePacker::Drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return waiting_.empty() && !busy_; });
}

void FilePacker::Run(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    cv_.wait(lock, stop, [this] { return !waiting_.empty(); });
    if (stop.stop_requested()) break;
    auto [path, level] = std::move(waiting_.front());
    waiting_.pop_front();
    if (held_ >= budget_) {
      idle_.notify_all();
      continue;
    }
    busy_ = true;
    lock.unlock();
    Entry entry;
    FileId id{};
    const bool packed = Pack(path, level, entry, id);
    lock.lock();
    busy_ = false;
    if (packed) {
      if (const auto old = ready_.find(id); old != ready_.end()) held_ -= old->second.packed.data.size();
      held_ += entry.packed.data.size();
      ready_[id] = std::move(entry);
    }
    idle_.notify_all();
  }
}

bool FilePacker::Pack(const std::string& path, int level, Entry& out, FileId& id) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id = FileId{st.st_dev, st.st_ino};
  if (static_cast<std::uint64_t>(st.st_size) > largest_) return false;
  std::string raw(static_cast<std::size_t>(st.st_size), '\0');
  if (ReadAt(fd.Get(), raw.data(), raw.size(), 0) != static_cast<long long>(raw.size())) return false;
  struct stat after {};
  // A file still being written is left to the add.
  if (::fstat(fd.Get(), &after) != 0 || after.st_size != st.st_size || MtimeNs(after) != MtimeNs(st)) return false;
  PackedData& p = out.packed;
  p.size = raw.size();
  p.crc = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(raw.data()),
                                           static_cast<uInt>(raw.size())));
  out.level = level;
  out.mtimeNs = MtimeNs(st);
  if (level > 0) {
    // One deflate state for every file: setting one up costs more than
    // packing a small page.
    struct Deflater {
      z_stream zs{};
      int level = -1;
      ~Deflater() {
        if (level >= 0) deflateEnd(&zs);
      }
    };
    static thread_local Deflater d;
    if (d.level != level) {
      if (d.level >= 0) deflateEnd(&d.zs);
      d.zs = z_stream{};
      d.level = deflateInit2(&d.zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK ? level : -1;
      if (d.level < 0) return false;
    } else if (deflateReset(&d.zs) != Z_OK) {
      return false;
    }
    std::string packed(deflateBound(&d.zs, static_cast<uLong>(raw.size())), '\0');
    d.zs.next_in = reinterpret_cast<Bytef*>(raw.data());
    d.zs.avail_in = static_cast<uInt>(raw.size());
    d.zs.next_out = reinterpret_cast<Bytef*>(packed.data());
    d.zs.avail_out = static_cast<uInt>(packed.size());
    if (deflate(&d.zs, Z_FINISH) != Z_STREAM_END) return false;
    packed.resize(packed.size() - d.zs.avail_out);
    // Data that deflate cannot shrink is kept as it is, as the add does.
    if (packed.size() < raw.size()) {
      p.method = 8;
      p.data = std::move(packed);
      return true;
    }
  }
  p.method = 0;
  p.data = std::move(raw);
  return true;
}

}  // namespace hxzip
