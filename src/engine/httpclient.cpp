#include "engine/httpclient.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

#include "url/tbwurl.h"
#include "url/textutil.h"

namespace fs = std::filesystem;

namespace {

// libcurl's global state and the cookie jar that every slot of the process
// shares: a cookie set on one connection is sent by all of them.
class CurlGlobal {
 public:
  static CurlGlobal& Get() {
    static CurlGlobal global;
    return global;
  }
  CURLSH* Share() const { return share_; }

 private:
  CurlGlobal() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<CurlGlobal*>(self)->locks_[data % kLocks].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<CurlGlobal*>(self)->locks_[data % kLocks].unlock();
  }
  static constexpr int kLocks = 8;
  std::mutex locks_[kLocks];
  CURLSH* share_ = nullptr;
};

std::string TrimLine(const char* data, std::size_t n) {
  std::string line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

int StatusCodeOf(const std::string& statusLine) {
  const auto sp = statusLine.find(' ');
  if (sp == std::string::npos) return 0;
  int code = 0;
  for (std::size_t i = sp + 1; i < statusLine.size() && i < sp + 4; ++i) {
    if (statusLine[i] < '0' || statusLine[i] > '9') return 0;
    code = code * 10 + (statusLine[i] - '0');
  }
  return code;
}

// Our own failure numbers, beside curl's (which are below 1000).
enum : int { kErrLocalFile = 1001, kErrStatus = 1002, kErrOffline = 1003 };

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  if (SameText(host, "localhost")) return true;
  std::string h = host;
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  in_addr v4{};
  if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, h.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

struct THttpClient::Transfer {
  const HttpRequest* Request = nullptr;
  std::string TempFile;
  FILE* File = nullptr;
  bool Started = false;
  bool LocalFileFailed = false;
  std::int64_t Bytes = 0;
  std::vector<std::pair<std::string, std::string>> Headers;
};

THttpClient::THttpClient() { curl_ = curl_easy_init(); }

THttpClient::~THttpClient() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

std::size_t THttpClient::HeaderCallback(char* data, std::size_t size, std::size_t count, void* self) {
  auto* client = static_cast<THttpClient*>(self);
  Transfer& t = *client->current_;
  const std::string line = TrimLine(data, size * count);
  if (StartsText("HTTP/", line)) {
    // A new response (after a redirect or an authentication round): only
    // the final one's headers count.
    client->statusLine_ = line;
    t.Headers.clear();
    if (client->OnStatus) client->OnStatus(2, "Response received: " + line);
  } else if (const auto colon = line.find(':'); colon != std::string::npos) {
    t.Headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return size * count;
}

bool THttpClient::StartBody(Transfer& t) {
  t.Started = true;
  if (OnHeader)
    for (const auto& [field, value] : t.Headers) OnHeader(field, value);
  if (OnStartTransfer) OnStartTransfer();
  t.File = std::fopen(t.TempFile.c_str(), "wb");
  if (!t.File) t.LocalFileFailed = true;
  return t.File != nullptr;
}

std::size_t THttpClient::WriteCallback(char* data, std::size_t size, std::size_t count, void* self) {
  auto* client = static_cast<THttpClient*>(self);
  Transfer& t = *client->current_;
  const std::size_t n = size * count;
  if (!t.Started && !client->StartBody(t)) return 0;
  if (std::fwrite(data, 1, n, t.File) != n) {
    t.LocalFileFailed = true;
    return 0;
  }
  t.Bytes += static_cast<std::int64_t>(n);
  if (client->OnTransfer) client->OnTransfer(t.Bytes);
  return n;
}

int THttpClient::ProgressCallback(void* self, std::int64_t, std::int64_t, std::int64_t, std::int64_t) {
  return static_cast<THttpClient*>(self)->abort_.load() ? 1 : 0;
}

HttpOutcome THttpClient::Get(const HttpRequest& request) {
  statusLine_.clear();
  Transfer t;
  t.Request = &request;
  t.TempFile = request.LocalFile + ".hxpart";
  current_ = &t;
  HttpOutcome outcome = Perform(t, request);
  current_ = nullptr;
  if (t.File) std::fclose(t.File);
  std::error_code ec;
  if (outcome.Ok && t.Started) {
    fs::rename(t.TempFile, request.LocalFile, ec);
    if (ec) outcome = {false, kErrLocalFile, "Cannot write " + request.LocalFile + ": " + ec.message()};
  }
  if (t.Started) fs::remove(t.TempFile, ec);
  return outcome;
}

HttpOutcome THttpClient::Perform(Transfer& t, const HttpRequest& r) {
  CURL* c = static_cast<CURL*>(curl_);
  if (!c) return {false, CURLE_FAILED_INIT, "The HTTP client could not start"};
  std::error_code ec;
  const bool haveCopy = fs::is_regular_file(r.LocalFile, ec);
  const std::string host = URLHost(r.URL);
  if (r.Offline && !IsLoopbackHost(host)) {
    if (!haveCopy) return {false, kErrOffline, "Working offline: " + r.URL + " is not on this computer"};
    // The earlier copy stands in for the page.
    if (OnStartTransfer) OnStartTransfer();
    if (OnTransfer) OnTransfer(static_cast<std::int64_t>(fs::file_size(r.LocalFile, ec)));
    if (OnEndTransfer) OnEndTransfer();
    return {true, 0, {}};
  }

  // Reset keeps the live connections, the DNS cache and the shared cookies.
  curl_easy_reset(c);
  curl_easy_setopt(c, CURLOPT_SHARE, CurlGlobal::Get().Share());
  curl_easy_setopt(c, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(c, CURLOPT_URL, r.URL.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, r.ConnectTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, r.StallSeconds);
  if (!r.UserAgent.empty()) curl_easy_setopt(c, CURLOPT_USERAGENT, r.UserAgent.c_str());
  if (!r.User.empty()) {
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    curl_easy_setopt(c, CURLOPT_USERNAME, r.User.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, r.Password.c_str());
  }
  if (!r.Proxy.empty()) {
    curl_easy_setopt(c, CURLOPT_PROXY, r.Proxy.c_str());
    if (!r.ProxyUserPassword.empty()) curl_easy_setopt(c, CURLOPT_PROXYUSERPWD, r.ProxyUserPassword.c_str());
  }
  if (!r.CaFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, r.CaFile.c_str());
  if (r.UseCache && haveCopy) {
    curl_off_t since = r.LastModified.empty() ? -1 : curl_getdate(r.LastModified.c_str(), nullptr);
    if (since < 0) {
      struct stat st {};
      since = ::stat(r.LocalFile.c_str(), &st) == 0 ? st.st_mtime : 0;
    }
    curl_easy_setopt(c, CURLOPT_TIMECONDITION, static_cast<long>(CURL_TIMECOND_IFMODSINCE));
    curl_easy_setopt(c, CURLOPT_TIMEVALUE_LARGE, since);
  }
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &HeaderCallback);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &WriteCallback);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &ProgressCallback);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);

  if (OnStatus) OnStatus(1, "Connecting to " + host);
  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_GOT_NOTHING && OnStatus)
    OnStatus(3, "Successfully closed: the server closed the connection without answering");
  if (rc != CURLE_OK) {
    if (t.LocalFileFailed) return {false, kErrLocalFile, "Cannot write " + t.TempFile};
    return {false, rc, curl_easy_strerror(rc)};
  }
  const int code = StatusCodeOf(statusLine_);
  if (code == 304 && r.UseCache && haveCopy) {
    // Unchanged since our copy: the copy is the transfer.
    if (OnStartTransfer) OnStartTransfer();
    if (OnTransfer) OnTransfer(static_cast<std::int64_t>(fs::file_size(r.LocalFile, ec)));
    if (OnEndTransfer) OnEndTransfer();
    return {true, 0, {}};
  }
  if (!t.Started && !StartBody(t)) return {false, kErrLocalFile, "Cannot write " + t.TempFile};
  if (std::fflush(t.File) != 0) return {false, kErrLocalFile, "Cannot write " + t.TempFile};
  if (OnEndTransfer) OnEndTransfer();
  if (code < 200 || code > 299) return {false, kErrStatus, statusLine_.empty() ? "No valid response" : statusLine_};
  return {true, 0, {}};
}
