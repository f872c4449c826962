#pragma once
// One connection slot and the worker thread that serves it. The dispatcher
// arms the slot on the main thread with Arm, which writes URL last under the
// slot's lock and wakes the worker; the worker copies the fields it needs
// under the same lock and then transfers without holding it. StopTransfer
// (main thread) aborts a transfer in progress; a stopped attempt's outcome is
// never reported, only a last progress report of no bytes. OnDone and
// OnProgress run on the main thread, the worker waiting for them, and only
// while the attempt they belong to is current.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class THXQItem;
class THttpClient;

// How every slot of the process reaches the network; set by the front end.
struct SlotSettings {
  std::int32_t PaceMs = 1000;       // the pause before script-like URLs is 5 x this
  long StallSeconds = 60;
  long ConnectTimeoutSeconds = 30;
  std::string CaFile;
  std::string Proxy, ProxyUserPassword;
  bool Offline = false;
};

class TThreadSocket {
 public:
  using Callback = std::function<void(TThreadSocket&)>;

  TThreadSocket();
  ~TThreadSocket();
  TThreadSocket(const TThreadSocket&) = delete;
  TThreadSocket& operator=(const TThreadSocket&) = delete;

  struct Arming {
    std::string URL, LocalFile, UserAgent, User, Password, LastModified;
    bool UseCache = false;
    std::unique_ptr<THXQItem> Item;
    Callback OnDone, OnProgress;
  };
  // Main thread. The slot must be idle.
  void Arm(Arming arming);
  void StopTransfer();
  void ClearSlot();

  bool Busy() const;
  // Snapshot of the fields the windows and the dispatcher read.
  std::string URL() const;
  std::string LocalFile() const;
  std::string StatusText() const;
  std::string ResultCode() const;
  std::string LastModified() const;
  std::int64_t ContentLength() const;
  std::int64_t BytesReceived() const;
  // The armed item; the OnDone handler takes it over.
  std::unique_ptr<THXQItem> TakeItem();
  THXQItem* Item() const;

  static SlotSettings& Settings();

 private:
  struct Attempt;
  void Run(std::stop_token stop);
  void Serve(std::stop_token stop);
  void FetchHttp(Attempt& a, std::stop_token stop);
  void CopyLocalFile(Attempt& a);
  void Report(Attempt& a, bool done);
  void SetStatus(std::uint64_t generation, const std::string& text, bool fromClient);

  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  std::uint64_t generation_ = 0;  // counts armings and clearings
  std::string url_, localFile_, userAgent_, user_, password_, lastModifiedIn_;
  bool useCache_ = false;
  std::string statusText_, resultCode_, lastModified_;
  std::int64_t contentLength_ = 0, bytesReceived_ = 0;
  std::unique_ptr<THXQItem> item_;
  Callback onDone_, onProgress_;
  std::unique_ptr<THttpClient> client_;
  std::jthread worker_;
};
