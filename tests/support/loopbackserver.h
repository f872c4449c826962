#pragma once
// A scriptable HTTP/1.1 server on 127.0.0.1 and a random free port, plain or
// TLS, against which tests drive an HTTP client. A test scripts the answers
// before it sends requests; one thread per connection reads requests in turn
// (keep-alive) until the client or a script closes. Every member may be called
// from any thread; the destructor stops and joins every server thread, also
// those inside a scripted delay or stall.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One scripted answer. Without a fault flag the server sends the status line,
// the headers, "Content-Length" and the body, and keeps the connection open.
struct ScriptedResponse {
  // Sent verbatim, so it may be malformed ("BLAH", "HTTP/1.1 200").
  std::string StatusLine = "HTTP/1.1 200 OK";
  HeaderList Headers;
  std::string Body;
  // false: no Content-Length; the body then ends when the server closes.
  bool AddContentLength = true;
  // Sent instead of the real length ("abc", a number larger than the body);
  // the connection closes after the body, as its framing cannot be trusted.
  std::optional<std::string> ContentLengthOverride;
  std::chrono::milliseconds DelayBeforeHeaders{0};
  // Sends the first half of the body, waits, then sends the rest.
  std::chrono::milliseconds DelayMidBody{0};
  // Sends the first half of the body, then waits until the client goes away
  // or the server stops; the response never completes.
  bool StallMidBodyForever = false;
  // Sends the first half of the body, then closes the socket.
  bool CloseMidBody = false;
  // Reads the request and closes without sending a byte.
  bool DropWithoutAnswer = false;
  // Closes the connection after this response.
  bool CloseAfter = false;
};
// Whenever the server closes after a response it adds "Connection: close",
// unless the script has a "Connection" header of its own. It also closes
// when the request asks for it, and without a word on a request it cannot
// parse. A HEAD request gets the head only. Over TLS a finished answer ends
// with close_notify; the scripted cuts (mid body, drop, stall) do not.

struct RecordedRequest {
  std::string Method, Target, Version;
  HeaderList Headers;
  std::string Body;
  // Which TCP connection carried it: 1 for the first accepted, and so on.
  int ConnectionNumber = 0;
  // The first header of that name, ignoring letter case; empty if absent.
  std::string Header(std::string_view name) const;
};

class LoopbackServer {
 public:
  enum class Tls { Off, On };
  using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;

  // Listens at once; with TLS it first makes a fresh self-signed certificate
  // for "localhost" and 127.0.0.1.
  explicit LoopbackServer(Tls tls = Tls::Off);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const;
  // "http://127.0.0.1:PORT", or "https://localhost:PORT" so that the name
  // matches the certificate; no trailing "/".
  std::string BaseUrl() const;
  // The PEM certificate a client must trust (CURLOPT_CAINFO); empty without TLS.
  std::string CaCertificatePem() const;

  // Exact match on the request target (path and query). A later call for the
  // same target replaces the earlier script. Any other target gets a 404.
  void Route(const std::string& target, ScriptedResponse response);
  // The handler runs on the connection's thread, once per request.
  void Route(const std::string& target, Handler handler);
  // Targets starting with the prefix need these credentials, else the answer
  // is 401 with a challenge; the longest matching prefix decides. Digest is
  // MD5 with qop=auth, and the client's response hash is checked in full.
  void RequireBasicAuth(const std::string& targetPrefix, const std::string& user,
                        const std::string& password);
  void RequireDigestAuth(const std::string& targetPrefix, const std::string& user,
                         const std::string& password);

  // In arrival order, including the ones answered 401 or 404.
  std::vector<RecordedRequest> Requests() const;
  int RequestCount(const std::string& target) const;
  // TCP connections accepted so far.
  int ConnectionCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
