#include "support/loopbackserver.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kRealm = "harvix-test";
// A request head longer than this is a broken client, not a test case.
constexpr size_t kMaxHeadSize = 64 * 1024;

// ---- Text ------------------------------------------------------------------

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool sameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && lowerCase(a) == lowerCase(b);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string findHeader(const HeaderList& headers, std::string_view name) {
  for (const auto& [key, value] : headers)
    if (sameNoCase(key, name)) return value;
  return "";
}

bool hasHeader(const HeaderList& headers, std::string_view name) {
  for (const auto& header : headers)
    if (sameNoCase(header.first, name)) return true;
  return false;
}

// Splits "Scheme rest" of an Authorization header.
std::pair<std::string_view, std::string_view> splitScheme(std::string_view value) {
  value = trimmed(value);
  size_t space = value.find(' ');
  if (space == std::string_view::npos) return {value, {}};
  return {value.substr(0, space), trimmed(value.substr(space + 1))};
}

// Reads one value of a parameter list, quoted (with backslash escapes) or bare.
std::string readParamValue(std::string_view text, size_t& i) {
  std::string value;
  if (i < text.size() && text[i] == '"') {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      value += text[i];
    }
    ++i;
    return value;
  }
  size_t end = std::min(text.find(',', i), text.size());
  value = trimmed(text.substr(i, end - i));
  i = end;
  return value;
}

// Parses `key=value, key="value"` pairs; keys in lower case.
std::map<std::string, std::string> parseAuthParams(std::string_view text) {
  std::map<std::string, std::string> params;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',')) ++i;
    size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) break;
    std::string key = lowerCase(trimmed(text.substr(i, equals - i)));
    i = equals + 1;
    while (i < text.size() && text[i] == ' ') ++i;
    params[key] = readParamValue(text, i);
  }
  return params;
}

// ---- Hashes and randomness -------------------------------------------------

std::string toHex(const unsigned char* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::string md5Hex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr))
    throw std::runtime_error("MD5 is not available");
  return toHex(digest, size);
}

std::string base64(std::string_view text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  int size = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                             reinterpret_cast<const unsigned char*>(text.data()),
                             static_cast<int>(text.size()));
  out.resize(static_cast<size_t>(size));
  return out;
}

std::string randomHex(size_t byteCount) {
  std::vector<unsigned char> bytes(byteCount);
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
    throw std::runtime_error("no random bytes");
  return toHex(bytes.data(), bytes.size());
}

// ---- TLS identity ----------------------------------------------------------

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using ContextPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("LoopbackServer: ") + what);
}

void addExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  require(extension != nullptr, "certificate extension");
  bool added = X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  require(added, "certificate extension");
}

CertPtr makeSelfSignedCertificate(EVP_PKEY* key) {
  CertPtr cert(X509_new());
  require(cert != nullptr, "X509_new");
  X509_set_version(cert.get(), X509_VERSION_3);
  // Clients may cache certificates by issuer and serial; a random serial keeps
  // the servers of one test run apart.
  int64_t serial = 0;
  RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
  ASN1_INTEGER_set_int64(X509_get_serialNumber(cert.get()), serial & INT64_MAX);
  // Valid from an hour back, so that a clock slightly behind still accepts it.
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  // Its own trust anchor, hence CA:TRUE and keyCertSign; clients match the
  // host against the subjectAltName, not the CN.
  addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
  addExtension(cert.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  addExtension(cert.get(), NID_subject_key_identifier, "hash");
  require(X509_sign(cert.get(), key, EVP_sha256()) > 0, "X509_sign");
  return cert;
}

std::string certificatePem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  require(bio && PEM_write_bio_X509(bio.get(), cert) == 1, "PEM_write_bio_X509");
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

struct TlsIdentity {
  ContextPtr context;
  std::string certificatePem;
};

TlsIdentity makeTlsIdentity() {
  // P-256 instead of RSA: key generation is instant, so TLS tests stay fast.
  KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  require(key != nullptr, "EC key generation");
  CertPtr cert = makeSelfSignedCertificate(key.get());
  ContextPtr context(SSL_CTX_new(TLS_server_method()));
  require(context != nullptr, "SSL_CTX_new");
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  require(SSL_CTX_use_certificate(context.get(), cert.get()) == 1 &&
              SSL_CTX_use_PrivateKey(context.get(), key.get()) == 1,
          "certificate and key");
  return {std::move(context), certificatePem(cert.get())};
}

// ---- One connection --------------------------------------------------------

// A peer that stops reading must not kill the test process: with SIGPIPE
// blocked in the server's threads a write to a dead socket only fails.
void blockBrokenPipeSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// An accepted socket, maybe wrapped in TLS; it does not close the socket.
// Every wait also ends when the server's stop pipe turns readable, which it
// stays once written, so one write wakes all connections.
class Connection {
 public:
  Connection(int fd, SSL_CTX* tls, int stopFd) : fd_(fd), tls_(tls), stopFd_(stopFd) {}
  ~Connection() { SSL_free(ssl_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Handshake() {
    if (!tls_) return true;
    ssl_ = SSL_new(tls_);
    return ssl_ && SSL_set_fd(ssl_, fd_) == 1 && SSL_accept(ssl_) == 1;
  }

  bool Send(std::string_view data) {
    while (!data.empty()) {
      ssize_t sent = ssl_ ? SSL_write(ssl_, data.data(), static_cast<int>(data.size()))
                          : send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }

  // Appends what arrives; false once the peer closed, on an error or on stop.
  bool Receive(std::string& buffer) {
    // Bytes OpenSSL already decrypted never make the socket readable again.
    bool buffered = ssl_ && SSL_pending(ssl_) > 0;
    if (!buffered && wait(std::nullopt, true) != Wake::Socket) return false;
    char chunk[16384];
    ssize_t got = ssl_ ? SSL_read(ssl_, chunk, sizeof chunk) : recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(got));
    return true;
  }

  // false if the server stops meanwhile.
  bool Pause(milliseconds time) {
    return time <= milliseconds(0) || wait(Clock::now() + time, false) == Wake::Timeout;
  }

  // Any sign from the peer ends it: a client in the middle of a response
  // only speaks again to close.
  void AwaitPeerOrStop() { wait(std::nullopt, true); }

  // A TLS peer reading to the end of the connection needs close_notify to
  // tell a complete body from a cut one.
  void FinishCleanly() {
    if (ssl_) SSL_shutdown(ssl_);
  }

 private:
  enum class Wake { Socket, Stop, Timeout };

  Wake wait(std::optional<Clock::time_point> deadline, bool watchSocket) {
    for (;;) {
      int timeout = -1;
      if (deadline) {
        auto left = std::chrono::ceil<milliseconds>(*deadline - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
      }
      pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
      int ready = poll(fds, watchSocket ? 2 : 1, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || fds[0].revents) return Wake::Stop;
      if (ready == 0) return Wake::Timeout;
      return Wake::Socket;
    }
  }

  int fd_;
  SSL_CTX* tls_;
  int stopFd_;
  SSL* ssl_ = nullptr;
};

// ---- Requests --------------------------------------------------------------

std::optional<RecordedRequest> parseHead(std::string_view head) {
  size_t lineEnd = std::min(head.find("\r\n"), head.size());
  std::string_view line = head.substr(0, lineEnd);
  size_t first = line.find(' '), last = line.rfind(' ');
  if (first == std::string_view::npos || first == last) return std::nullopt;
  RecordedRequest request;
  request.Method = line.substr(0, first);
  request.Target = line.substr(first + 1, last - first - 1);
  request.Version = line.substr(last + 1);
  if (request.Target.empty() || request.Version.rfind("HTTP/", 0) != 0) return std::nullopt;
  for (size_t start = lineEnd + 2; start < head.size();) {
    size_t end = std::min(head.find("\r\n", start), head.size());
    std::string_view field = head.substr(start, end - start);
    size_t colon = field.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    request.Headers.emplace_back(field.substr(0, colon), trimmed(field.substr(colon + 1)));
    start = end + 2;
  }
  return request;
}

bool readBody(Connection& conn, std::string& buffer, RecordedRequest& request) {
  // Uploads of unknown length are not needed by a downloader's tests.
  if (!request.Header("Transfer-Encoding").empty()) return false;
  std::string length = request.Header("Content-Length");
  size_t size = 0;
  if (!length.empty()) {
    auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), size);
    if (error != std::errc() || end != length.data() + length.size()) return false;
  }
  if (size > 0 && sameNoCase(request.Header("Expect"), "100-continue") &&
      !conn.Send("HTTP/1.1 100 Continue\r\n\r\n"))
    return false;
  while (buffer.size() < size)
    if (!conn.Receive(buffer)) return false;
  request.Body = buffer.substr(0, size);
  buffer.erase(0, size);
  return true;
}

// Takes the next request off the connection; bytes after it stay in the
// buffer for the next call. Nothing when the client closed or sent garbage.
std::optional<RecordedRequest> readRequest(Connection& conn, std::string& buffer) {
  size_t headEnd;
  while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos)
    if (buffer.size() > kMaxHeadSize || !conn.Receive(buffer)) return std::nullopt;
  std::optional<RecordedRequest> request = parseHead(std::string_view(buffer).substr(0, headEnd));
  buffer.erase(0, headEnd + 4);
  if (!request || !readBody(conn, buffer, *request)) return std::nullopt;
  return request;
}

bool clientAsksToClose(const RecordedRequest& request) {
  std::string connection = lowerCase(request.Header("Connection"));
  if (request.Version == "HTTP/1.0") return connection.find("keep-alive") == std::string::npos;
  return connection.find("close") != std::string::npos;
}

// ---- Responses -------------------------------------------------------------

enum class Ending { KeepOpen, Close, Abort };

bool scriptCloses(const ScriptedResponse& response) {
  return response.CloseAfter || !response.AddContentLength ||
         response.ContentLengthOverride.has_value();
}

std::string composeHead(const ScriptedResponse& response, bool closeAfter) {
  std::string head = response.StatusLine + "\r\n";
  for (const auto& [name, value] : response.Headers) head += name + ": " + value + "\r\n";
  if (response.ContentLengthOverride)
    head += "Content-Length: " + *response.ContentLengthOverride + "\r\n";
  else if (response.AddContentLength)
    head += "Content-Length: " + std::to_string(response.Body.size()) + "\r\n";
  if (closeAfter && !hasHeader(response.Headers, "Connection")) head += "Connection: close\r\n";
  return head + "\r\n";
}

Ending play(Connection& conn, const ScriptedResponse& response, bool headOnly, bool closeAfter) {
  if (response.DropWithoutAnswer || !conn.Pause(response.DelayBeforeHeaders)) return Ending::Abort;
  std::string_view body = headOnly ? std::string_view() : std::string_view(response.Body);
  bool splits = response.CloseMidBody || response.StallMidBodyForever ||
                response.DelayMidBody > milliseconds(0);
  size_t firstPart = splits ? body.size() / 2 : body.size();
  if (!conn.Send(composeHead(response, closeAfter)) || !conn.Send(body.substr(0, firstPart)))
    return Ending::Abort;
  if (response.CloseMidBody) return Ending::Abort;
  if (response.StallMidBodyForever) {
    conn.AwaitPeerOrStop();
    return Ending::Abort;
  }
  if (!conn.Pause(response.DelayMidBody) || !conn.Send(body.substr(firstPart))) return Ending::Abort;
  return closeAfter ? Ending::Close : Ending::KeepOpen;
}

ScriptedResponse plainAnswer(std::string statusLine, std::string body) {
  ScriptedResponse response;
  response.StatusLine = std::move(statusLine);
  response.Headers = {{"Content-Type", "text/plain"}};
  response.Body = std::move(body);
  return response;
}

struct AuthRule {
  std::string prefix, user, password;
  bool digest = false;
};

bool basicMatches(const AuthRule& rule, const std::string& authorization) {
  auto [scheme, credentials] = splitScheme(authorization);
  return sameNoCase(scheme, "Basic") && credentials == base64(rule.user + ":" + rule.password);
}

}  // namespace

std::string RecordedRequest::Header(std::string_view name) const {
  return findHeader(Headers, name);
}

// ---- The server ------------------------------------------------------------

struct LoopbackServer::Impl {
  explicit Impl(Tls mode);
  ~Impl();

  void openSockets();
  void closeDescriptors();
  void acceptLoop();
  int admit(int fd);
  void serve(int fd, int number);
  void converse(Connection& conn, int number);
  ScriptedResponse respond(const RecordedRequest& request);
  std::optional<ScriptedResponse> checkAuth(const RecordedRequest& request) const;
  bool digestMatches(const AuthRule& rule, const RecordedRequest& request) const;
  ScriptedResponse challenge(const AuthRule& rule) const;

  // A worker marks itself done so the accept thread can join it early; a
  // list keeps the flag's address stable while others come and go.
  struct Worker {
    std::atomic<bool> done{false};
    std::jthread thread;
  };

  TlsIdentity tls;
  const std::string nonce = randomHex(16);
  const std::string opaque = randomHex(8);
  int listenFd = -1, stopRead = -1, stopWrite = -1, port = 0;
  std::atomic<bool> stopping{false};

  mutable std::mutex mutex;  // guards everything below it
  std::map<std::string, Handler> routes;
  std::vector<AuthRule> authRules;
  std::vector<RecordedRequest> requests;
  std::set<int> liveSockets;
  int connections = 0;

  std::list<Worker> workers;  // the accept thread's, then the destructor's
  std::jthread acceptor;
};

LoopbackServer::Impl::Impl(Tls mode) {
  if (mode == Tls::On) tls = makeTlsIdentity();
  try {
    openSockets();
  } catch (...) {
    closeDescriptors();
    throw;
  }
  acceptor = std::jthread([this] { acceptLoop(); });
}

void LoopbackServer::Impl::openSockets() {
  int pipeFds[2];
  require(pipe2(pipeFds, O_CLOEXEC) == 0, "pipe2");
  stopRead = pipeFds[0];
  stopWrite = pipeFds[1];
  listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  require(listenFd >= 0, "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  require(bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
  require(listen(listenFd, 64) == 0, "listen");
  socklen_t size = sizeof address;
  require(getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &size) == 0, "getsockname");
  port = ntohs(address.sin_port);
}

void LoopbackServer::Impl::closeDescriptors() {
  for (int* fd : {&listenFd, &stopRead, &stopWrite})
    if (*fd >= 0) close(*fd), *fd = -1;
}

// Order matters: the flag stops new connections from being admitted, the
// pipe wakes every wait, shutdown() ends reads and writes blocked inside the
// kernel or OpenSSL; only then can every thread be joined.
LoopbackServer::Impl::~Impl() {
  stopping = true;
  [[maybe_unused]] ssize_t written = write(stopWrite, "x", 1);
  {
    std::lock_guard lock(mutex);
    for (int fd : liveSockets) shutdown(fd, SHUT_RDWR);
  }
  if (acceptor.joinable()) acceptor.join();
  workers.clear();
  closeDescriptors();
}

void LoopbackServer::Impl::acceptLoop() {
  blockBrokenPipeSignal();
  for (;;) {
    pollfd fds[2] = {{stopRead, POLLIN, 0}, {listenFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;
    if (!fds[1].revents) continue;
    int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int number = admit(fd);
    if (number == 0) {
      close(fd);
      return;
    }
    workers.remove_if([](const Worker& w) { return w.done.load(); });
    Worker& worker = workers.emplace_back();
    worker.thread = std::jthread([this, fd, number, &worker] {
      serve(fd, number);
      worker.done = true;
    });
  }
}

// Registers the socket so that the destructor can shut it down; 0 once the
// server is stopping (checked under the lock the destructor takes).
int LoopbackServer::Impl::admit(int fd) {
  std::lock_guard lock(mutex);
  if (stopping) return 0;
  liveSockets.insert(fd);
  // A response sent in two writes must not wait for the client's delayed ACK.
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return ++connections;
}

void LoopbackServer::Impl::serve(int fd, int number) {
  blockBrokenPipeSignal();
  {
    Connection conn(fd, tls.context.get(), stopRead);
    if (conn.Handshake()) converse(conn, number);
  }
  // Forgotten before closed: the destructor must never shut down a number
  // the system has already handed to someone else.
  std::lock_guard lock(mutex);
  liveSockets.erase(fd);
  close(fd);
}

void LoopbackServer::Impl::converse(Connection& conn, int number) {
  std::string buffer;
  while (!stopping) {
    std::optional<RecordedRequest> request = readRequest(conn, buffer);
    if (!request) return;
    request->ConnectionNumber = number;
    {
      std::lock_guard lock(mutex);
      requests.push_back(*request);
    }
    ScriptedResponse response = respond(*request);
    bool closeAfter = scriptCloses(response) || clientAsksToClose(*request);
    Ending ending = play(conn, response, request->Method == "HEAD", closeAfter);
    if (ending == Ending::Close) conn.FinishCleanly();
    if (ending != Ending::KeepOpen) return;
  }
}

ScriptedResponse LoopbackServer::Impl::respond(const RecordedRequest& request) {
  if (std::optional<ScriptedResponse> refusal = checkAuth(request)) return *refusal;
  Handler handler;
  {
    std::lock_guard lock(mutex);
    auto found = routes.find(request.Target);
    if (found != routes.end()) handler = found->second;
  }
  if (!handler) return plainAnswer("HTTP/1.1 404 Not Found", "Not found\n");
  // Called without the lock, so that a handler may inspect the server.
  try {
    return handler(request);
  } catch (const std::exception& e) {
    return plainAnswer("HTTP/1.1 500 Internal Server Error", std::string(e.what()) + "\n");
  }
}

std::optional<ScriptedResponse> LoopbackServer::Impl::checkAuth(const RecordedRequest& request) const {
  std::optional<AuthRule> rule;
  {
    std::lock_guard lock(mutex);
    for (const AuthRule& candidate : authRules)
      if (request.Target.rfind(candidate.prefix, 0) == 0 &&
          (!rule || candidate.prefix.size() >= rule->prefix.size()))
        rule = candidate;
  }
  if (!rule) return std::nullopt;
  bool granted = rule->digest ? digestMatches(*rule, request)
                              : basicMatches(*rule, request.Header("Authorization"));
  if (granted) return std::nullopt;
  return challenge(*rule);
}

bool LoopbackServer::Impl::digestMatches(const AuthRule& rule, const RecordedRequest& request) const {
  std::string authorization = request.Header("Authorization");  // the views below point into it
  auto [scheme, rest] = splitScheme(authorization);
  if (!sameNoCase(scheme, "Digest")) return false;
  std::map<std::string, std::string> p = parseAuthParams(rest);
  std::string algorithm = p["algorithm"];
  if (p["username"] != rule.user || p["realm"] != kRealm || p["nonce"] != nonce ||
      p["opaque"] != opaque || p["uri"] != request.Target || p["qop"] != "auth" ||
      p["nc"].empty() || p["cnonce"].empty() || !(algorithm.empty() || sameNoCase(algorithm, "MD5")))
    return false;
  std::string ha1 = md5Hex(rule.user + ":" + kRealm + ":" + rule.password);
  std::string ha2 = md5Hex(request.Method + ":" + p["uri"]);
  std::string expected = md5Hex(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
  return sameNoCase(p["response"], expected);
}

ScriptedResponse LoopbackServer::Impl::challenge(const AuthRule& rule) const {
  ScriptedResponse response = plainAnswer("HTTP/1.1 401 Unauthorized", "Unauthorized\n");
  std::string realm = std::string("realm=\"") + kRealm + "\"";
  std::string value = rule.digest ? "Digest " + realm + ", qop=\"auth\", algorithm=MD5, nonce=\"" +
                                        nonce + "\", opaque=\"" + opaque + "\""
                                  : "Basic " + realm;
  response.Headers.emplace_back("WWW-Authenticate", value);
  return response;
}

// ---- Public face -----------------------------------------------------------

LoopbackServer::LoopbackServer(Tls tls) : impl_(std::make_unique<Impl>(tls)) {}
LoopbackServer::~LoopbackServer() = default;

int LoopbackServer::Port() const { return impl_->port; }

std::string LoopbackServer::BaseUrl() const {
  std::string origin = impl_->tls.context ? "https://localhost:" : "http://127.0.0.1:";
  return origin + std::to_string(impl_->port);
}

std::string LoopbackServer::CaCertificatePem() const { return impl_->tls.certificatePem; }

void LoopbackServer::Route(const std::string& target, ScriptedResponse response) {
  Route(target, [response = std::move(response)](const RecordedRequest&) { return response; });
}

void LoopbackServer::Route(const std::string& target, Handler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes[target] = std::move(handler);
}

void LoopbackServer::RequireBasicAuth(const std::string& targetPrefix, const std::string& user,
                                      const std::string& password) {
  std::lock_guard lock(impl_->mutex);
  impl_->authRules.push_back({targetPrefix, user, password, false});
}

void LoopbackServer::RequireDigestAuth(const std::string& targetPrefix, const std::string& user,
                                       const std::string& password) {
  std::lock_guard lock(impl_->mutex);
  impl_->authRules.push_back({targetPrefix, user, password, true});
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

int LoopbackServer::RequestCount(const std::string& target) const {
  std::lock_guard lock(impl_->mutex);
  int count = 0;
  for (const RecordedRequest& request : impl_->requests) count += request.Target == target;
  return count;
}

int LoopbackServer::ConnectionCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connections;
}
