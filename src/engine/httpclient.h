#pragma once
// The HTTP(S) client of one connection slot, over one reused libcurl easy
// handle (connections stay open between transfers). Get runs a whole GET
// synchronously in the calling thread and writes the body to a temp file
// beside LocalFile, renamed over it only when the transfer completed, so a
// failed or aborted transfer never destroys an earlier copy. Abort may be
// called from any thread. Events fire in the calling thread, in this order:
// OnStatus (any time), OnHeader (per header of the final response),
// OnStartTransfer, OnTransfer (per chunk, cumulative bytes), OnEndTransfer.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct HttpRequest {
  std::string URL;
  std::string LocalFile;
  bool UseCache = false;
  // Time to send in If-Modified-Since when UseCache finds a local copy;
  // empty: the local file's own time.
  std::string LastModified;
  std::string UserAgent;  // empty: no User-Agent header
  std::string User, Password;
  std::string Proxy;           // "host:port"; empty: the environment's proxy, if any
  std::string ProxyUserPassword;
  std::string CaFile;          // extra trust anchors; empty: the system's
  long ConnectTimeoutSeconds = 30;
  long StallSeconds = 60;      // abort below 1 byte/s for this long
  bool Offline = false;        // no network requests except to this machine
};

struct HttpOutcome {
  bool Ok = false;            // the body (or a 304's local copy) is in LocalFile
  int ErrorNumber = 0;        // ours or curl's; 0 when Ok
  std::string Description;    // why it failed
};

class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  std::function<void(int code, const std::string& description)> OnStatus;
  std::function<void(const std::string& field, const std::string& value)> OnHeader;
  std::function<void()> OnStartTransfer;
  std::function<void(std::int64_t bytes)> OnTransfer;
  std::function<void()> OnEndTransfer;

  HttpOutcome Get(const HttpRequest& request);
  // Ends a Get in progress (it then fails); harmless when none runs.
  void Abort() { abort_.store(true); }
  // Readies the client for the next Get after an Abort.
  void ClearAbort() { abort_.store(false); }
  // The status line of the final response, or empty when none arrived.
  const std::string& StatusLine() const { return statusLine_; }

 private:
  struct Transfer;
  static std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* self);
  static int ProgressCallback(void* self, std::int64_t, std::int64_t, std::int64_t, std::int64_t);
  HttpOutcome Perform(Transfer& t, const HttpRequest& request);
  bool StartBody(Transfer& t);

  void* curl_ = nullptr;
  std::atomic<bool> abort_{false};
  std::string statusLine_;
  Transfer* current_ = nullptr;
};

// True for 127.0.0.0/8, ::1 and "localhost": reachable while offline.
bool IsLoopbackHost(const std::string& host);
