#include "engine/tthreadsocket.h"

#include <chrono>
#include <filesystem>

#include "app/frontend.h"
#include "app/mainqueue.h"
#include "engine/httpclient.h"
#include "tasks/thxqitem.h"
#include "url/textutil.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {
// Progress reports cross to the main thread; more often than this they
// would cost more than they tell.
constexpr auto kProgressEvery = 100ms;
}  // namespace

struct TThreadSocket::Attempt {
  std::uint64_t Generation = 0;
  HttpRequest Request;  // what the slot was armed with
  std::int64_t ReportedBytes = 0;
  std::chrono::steady_clock::time_point LastReport{};
};

SlotSettings& TThreadSocket::Settings() {
  static SlotSettings settings;
  return settings;
}

TThreadSocket::TThreadSocket() : worker_([this](std::stop_token stop) { Run(stop); }) {}

TThreadSocket::~TThreadSocket() {
  worker_.request_stop();
  {
    std::lock_guard lock(mutex_);
    if (client_) client_->Abort();
  }
  wake_.notify_all();
}

void TThreadSocket::Arm(Arming a) {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    localFile_ = std::move(a.LocalFile);
    userAgent_ = std::move(a.UserAgent);
    user_ = std::move(a.User);
    password_ = std::move(a.Password);
    lastModifiedIn_ = std::move(a.LastModified);
    useCache_ = a.UseCache;
    item_ = std::move(a.Item);
    onDone_ = std::move(a.OnDone);
    onProgress_ = std::move(a.OnProgress);
    statusText_.clear();
    resultCode_.clear();
    lastModified_.clear();
    contentLength_ = bytesReceived_ = 0;
    url_ = std::move(a.URL);  // last: this is what hands the work over
  }
  wake_.notify_all();
}

void TThreadSocket::StopTransfer() {
  Callback progress;
  {
    std::lock_guard lock(mutex_);
    if (client_ && !url_.empty()) {
      statusText_ = "Transfer Stopped";
      client_->Abort();
    }
    // The bytes counted for this attempt never reach the disk, and a resumed
    // run counts the item again: as after a failure, a last report of no
    // bytes takes them back. The new generation keeps the worker from
    // changing the count before that report reads it.
    if (!url_.empty()) {
      ++generation_;
      contentLength_ = bytesReceived_ = 0;
      progress = onProgress_;
    }
  }
  if (progress) progress(*this);
  ClearSlot();
  wake_.notify_all();
}

void TThreadSocket::ClearSlot() {
  std::lock_guard lock(mutex_);
  ++generation_;
  useCache_ = false;
  userAgent_.clear();
  user_.clear();
  password_.clear();
  statusText_.clear();
  resultCode_.clear();
  lastModified_.clear();
  url_.clear();
  contentLength_ = bytesReceived_ = 0;
  item_.reset();
  onDone_ = nullptr;
  onProgress_ = nullptr;
}

bool TThreadSocket::Busy() const {
  std::lock_guard lock(mutex_);
  return !url_.empty();
}

#define HX_GETTER(Type, Name, field) \
  Type TThreadSocket::Name() const {  \
    std::lock_guard lock(mutex_);     \
    return field;                     \
  }
HX_GETTER(std::string, URL, url_)
HX_GETTER(std::string, LocalFile, localFile_)
HX_GETTER(std::string, StatusText, statusText_)
HX_GETTER(std::string, ResultCode, resultCode_)
HX_GETTER(std::string, LastModified, lastModified_)
HX_GETTER(std::int64_t, ContentLength, contentLength_)
HX_GETTER(std::int64_t, BytesReceived, bytesReceived_)
HX_GETTER(THXQItem*, Item, item_.get())
#undef HX_GETTER

std::unique_ptr<THXQItem> TThreadSocket::TakeItem() {
  std::lock_guard lock(mutex_);
  return std::move(item_);
}

void TThreadSocket::Run(std::stop_token stop) {
  std::uint64_t served = 0;
  while (!stop.stop_requested()) {
    {
      std::unique_lock lock(mutex_);
      // Woken by Arm; the 100 ms poll is only the fallback.
      wake_.wait_for(lock, stop, 100ms, [&] { return !url_.empty() && generation_ != served; });
      if (stop.stop_requested() || url_.empty() || generation_ == served) continue;
      served = generation_;
    }
    Serve(stop);
  }
}

void TThreadSocket::Serve(std::stop_token stop) {
  Attempt a;
  // A transfer that ends within the first progress interval reports its
  // bytes once, together with its outcome.
  a.LastReport = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(mutex_);
    a.Generation = generation_;
    a.Request.URL = url_;
    a.Request.LocalFile = localFile_;
    a.Request.UserAgent = userAgent_;
    a.Request.User = user_;
    a.Request.Password = password_;
    a.Request.LastModified = lastModifiedIn_;
    a.Request.UseCache = useCache_;
    if (!client_) client_ = std::make_unique<THttpClient>();
    client_->ClearAbort();
  }
  const std::string& url = a.Request.URL;
  if (StartsText("http://", url) || StartsText("https://", url)) {
    if (ContainsText(url, "cgi") || ContainsText(url, ".asp") || ContainsText(url, ".php3")) {
      // Spreads requests to server scripts; a stop or a new arming ends it.
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, stop, std::chrono::milliseconds(5 * Settings().PaceMs),
                     [&] { return generation_ != a.Generation; });
      if (generation_ != a.Generation || stop.stop_requested()) return;
    }
    FetchHttp(a, stop);
  } else if (StartsText("file://", url)) {
    CopyLocalFile(a);
  } else {
    // No transfer for other schemes: the item ends as an error at once, so
    // the slot is idle again and the run can finish.
    SetStatus(a.Generation, "Error", false);
  }
  Report(a, true);
}

void TThreadSocket::SetStatus(std::uint64_t generation, const std::string& text, bool fromClient) {
  std::lock_guard lock(mutex_);
  if (generation != generation_) return;
  // A stopped slot keeps saying so, except for a closed-connection notice.
  if (fromClient && statusText_ == "Transfer Stopped" && text.find("Successfully closed") == std::string::npos) return;
  statusText_ = text;
}

void TThreadSocket::FetchHttp(Attempt& a, std::stop_token stop) {
  const std::uint64_t gen = a.Generation;
  THttpClient& client = *client_;
  client.OnStartTransfer = [&] { SetStatus(gen, "Connecting to server", false); };
  client.OnHeader = [&](const std::string& field, const std::string& value) {
    std::lock_guard lock(mutex_);
    if (gen != generation_) return;
    if (SameText(field, "Content-Length")) {
      std::int64_t n = 0;
      const std::string v = Trim(value);
      contentLength_ = !v.empty() && v.find_first_not_of("0123456789") == std::string::npos && v.size() < 19
                           ? (n = std::stoll(v))
                           : 0;
    } else if (SameText(field, "Last-Modified")) {
      lastModified_ = value;
    }
  };
  client.OnStatus = [&](int, const std::string& description) { SetStatus(gen, description, true); };
  client.OnTransfer = [&](std::int64_t bytes) {
    {
      std::lock_guard lock(mutex_);
      if (gen != generation_) return;
      statusText_ = "Downloading...";
      bytesReceived_ = bytes;
    }
    if (std::chrono::steady_clock::now() - a.LastReport >= kProgressEvery) Report(a, false);
  };
  client.OnEndTransfer = [&] { SetStatus(gen, "Transfer Complete", false); };

  std::error_code ec;
  fs::create_directories(fs::path(a.Request.LocalFile).parent_path(), ec);
  const SlotSettings& s = Settings();
  HttpRequest& request = a.Request;
  request.Proxy = s.Proxy;
  request.ProxyUserPassword = s.ProxyUserPassword;
  request.CaFile = s.CaFile;
  request.ConnectTimeoutSeconds = s.ConnectTimeoutSeconds;
  request.StallSeconds = s.StallSeconds;
  request.Offline = s.Offline;
  const HttpOutcome outcome = client.Get(request);
  if (stop.stop_requested()) return;

  std::string notice;
  {
    std::lock_guard lock(mutex_);
    if (gen != generation_) return;
    const bool closed = statusText_.find("Successfully closed") != std::string::npos;
    if (!outcome.Ok && closed) notice = statusText_;
    if ((!outcome.Ok && statusText_ != "Transfer Stopped") || statusText_.empty() || closed) {
      statusText_ = "Error";
      contentLength_ = bytesReceived_ = 0;
    }
    const std::string& line = client.StatusLine();
    const auto blank = line.find(' ');
    resultCode_ = blank == std::string::npos ? line : line.substr(blank + 1);
  }
  if (!notice.empty()) MainThread().sync([&] { UI().ShowMessage(notice); }, stop);
}

void TThreadSocket::CopyLocalFile(Attempt& a) {
  const std::string source = a.Request.URL.substr(7);
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) {
    SetStatus(a.Generation, "Error", false);
    return;
  }
  const std::string& target = a.Request.LocalFile;
  fs::create_directories(fs::path(target).parent_path(), ec);
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
  const auto size = fs::file_size(target, ec);
  std::lock_guard lock(mutex_);
  if (a.Generation != generation_) return;
  contentLength_ = bytesReceived_ = ec ? 0 : static_cast<std::int64_t>(size);
  statusText_ = "Transfer Complete";
}

void TThreadSocket::Report(Attempt& a, bool done) {
  Callback progress, finished;
  std::int64_t bytes = 0;
  {
    std::lock_guard lock(mutex_);
    if (a.Generation != generation_) return;
    progress = onProgress_;
    finished = onDone_;
    bytes = bytesReceived_;
  }
  a.LastReport = std::chrono::steady_clock::now();
  // The dispatcher counts bytes from progress reports only, so the last
  // bytes of a transfer are reported before its outcome.
  const bool sendProgress = progress && bytes != a.ReportedBytes;
  a.ReportedBytes = bytes;
  MainThread().sync([&] {
    // A stop on the main thread may have come first: then nothing is told.
    {
      std::lock_guard lock(mutex_);
      if (a.Generation != generation_) return;
    }
    if (sendProgress) progress(*this);
    if (done && finished) finished(*this);
  }, worker_.get_stop_token());
}
