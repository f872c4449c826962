#include "support/loopbackserver.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/tempdir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// libcurl's global state, set up once before any test and before any thread.
class CurlEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { curl_global_init(CURL_GLOBAL_DEFAULT); }
  void TearDown() override { curl_global_cleanup(); }
};
const ::testing::Environment* const curlEnvironment =
    ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::string headers;  // every header block received, as sent
  long newConnections = 0;
};

size_t appendTo(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// One easy handle; successive fetches may reuse its connection.
class Client {
 public:
  Client() : curl_(curl_easy_init()) {
    // A proxy from the environment would send the requests elsewhere.
    curl_easy_setopt(curl_, CURLOPT_PROXY, "");
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, appendTo);
  }
  ~Client() { curl_easy_cleanup(curl_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  CURL* handle() { return curl_; }

  Fetched Get(const std::string& url) {
    Fetched result;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &result.headers);
    result.code = curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result.status);
    curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &result.newConnections);
    return result;
  }

 private:
  CURL* curl_;
};

ScriptedResponse answer(std::string body) {
  ScriptedResponse response;
  response.Body = std::move(body);
  return response;
}

ScriptedResponse redirectTo(std::string location, std::string statusLine = "HTTP/1.1 302 Found") {
  ScriptedResponse response;
  response.StatusLine = std::move(statusLine);
  response.Headers = {{"Location", std::move(location)}};
  return response;
}

// Polls for at most five seconds.
bool eventually(const std::function<bool()>& condition) {
  for (auto end = Clock::now() + 5s; Clock::now() < end; std::this_thread::sleep_for(2ms))
    if (condition()) return true;
  return condition();
}

// A raw TCP client, for what libcurl would hide: exact bytes, pipelining,
// a client that never reads.
int connectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int bytesWaiting(int fd) {
  int count = 0;
  return ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

// Sends the bytes and reads until the server closes.
std::string exchange(int port, const std::string& request) {
  int fd = connectTo(port);
  if (fd < 0) return "<no connection>";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply;
  char chunk[4096];
  for (ssize_t got; (got = recv(fd, chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, static_cast<size_t>(got));
  close(fd);
  return reply;
}

TEST(LoopbackServerTest, ServesTheScriptAndRecordsTheRequest) {
  LoopbackServer server;
  ScriptedResponse response = answer("hello");
  response.Headers = {{"X-Test", "yes"}};
  server.Route("/hello", response);
  Client client;
  Fetched got = client.Get(server.BaseUrl() + "/hello");
  ASSERT_EQ(got.code, CURLE_OK);
  EXPECT_EQ(got.status, 200);
  EXPECT_EQ(got.body, "hello");
  EXPECT_NE(got.headers.find("X-Test: yes\r\n"), std::string::npos) << got.headers;

  std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Method, "GET");
  EXPECT_EQ(requests[0].Target, "/hello");
  EXPECT_EQ(requests[0].Version, "HTTP/1.1");
  EXPECT_EQ(requests[0].Header("HOST"), "127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(requests[0].Header("X-Absent"), "");
  EXPECT_EQ(requests[0].ConnectionNumber, 1);
  EXPECT_EQ(server.BaseUrl(), "http://127.0.0.1:" + std::to_string(server.Port()));
}

TEST(LoopbackServerTest, RoutesMatchTheWholeTarget) {
  LoopbackServer server;
  server.Route("/page?x=1", answer("with query"));
  server.Route("/page", answer("first script"));
  server.Route("/page", answer("without query"));
  struct Case { std::string target; long status; std::string body; } cases[] = {
      {"/page?x=1", 200, "with query"},
      {"/page", 200, "without query"},
      {"/page?x=2", 404, "Not found\n"},
      {"/page/", 404, "Not found\n"},
      {"/other", 404, "Not found\n"},
  };
  for (const Case& c : cases) {
    Client client;
    Fetched got = client.Get(server.BaseUrl() + c.target);
    EXPECT_EQ(got.code, CURLE_OK) << c.target;
    EXPECT_EQ(got.status, c.status) << c.target;
    EXPECT_EQ(got.body, c.body) << c.target;
    EXPECT_EQ(server.RequestCount(c.target), 1) << c.target;
  }
}

TEST(LoopbackServerTest, HandlerAnswersFromTheRequest) {
  LoopbackServer server;
  server.Route("/echo", [](const RecordedRequest& request) {
    return answer(request.Method + " " + request.Body + " " + request.Header("x-token"));
  });
  Client client;
  curl_slist* headers = curl_slist_append(nullptr, "X-Token: t0k");
  curl_easy_setopt(client.handle(), CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(client.handle(), CURLOPT_POSTFIELDS, "a=1&b=2");
  Fetched got = client.Get(server.BaseUrl() + "/echo");
  curl_slist_free_all(headers);
  ASSERT_EQ(got.code, CURLE_OK);
  EXPECT_EQ(got.body, "POST a=1&b=2 t0k");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Body, "a=1&b=2");
}

TEST(LoopbackServerTest, KeepAliveAndScriptedCloseDecideConnectionReuse) {
  struct Case { std::string name; bool closeAfter; long secondNewConnections; int connections; } cases[] = {
      {"kept alive", false, 0, 1},
      {"closed after each answer", true, 1, 2},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    ScriptedResponse response = answer("body");
    response.CloseAfter = c.closeAfter;
    server.Route("/r", response);
    Client client;
    Fetched first = client.Get(server.BaseUrl() + "/r");
    Fetched second = client.Get(server.BaseUrl() + "/r");
    ASSERT_EQ(first.code, CURLE_OK) << c.name;
    ASSERT_EQ(second.code, CURLE_OK) << c.name;
    EXPECT_EQ(second.body, "body") << c.name;
    EXPECT_EQ(first.newConnections, 1) << c.name;
    EXPECT_EQ(second.newConnections, c.secondNewConnections) << c.name;
    EXPECT_EQ(server.ConnectionCount(), c.connections) << c.name;
    EXPECT_EQ(server.Requests().back().ConnectionNumber, c.connections) << c.name;
    bool announcesClose = first.headers.find("Connection: close\r\n") != std::string::npos;
    EXPECT_EQ(announcesClose, c.closeAfter) << c.name;
  }
}

TEST(LoopbackServerTest, ScriptedFaultsReachTheClient) {
  struct Case {
    std::string name;
    std::function<void(ScriptedResponse&)> script;
    CURLcode code;
    std::string body;
    std::chrono::milliseconds atLeast{0};
  } cases[] = {
      {"no length: body ends at close", [](auto& r) { r.AddContentLength = false; }, CURLE_OK, "0123456789"},
      {"length beyond the body", [](auto& r) { r.ContentLengthOverride = "100"; }, CURLE_PARTIAL_FILE, "0123456789"},
      {"closed mid body", [](auto& r) { r.CloseMidBody = true; }, CURLE_PARTIAL_FILE, "01234"},
      {"dropped without answer", [](auto& r) { r.DropWithoutAnswer = true; }, CURLE_GOT_NOTHING, ""},
      {"status line without HTTP", [](auto& r) { r.StatusLine = "BLAH"; }, CURLE_UNSUPPORTED_PROTOCOL, ""},
      {"delay before headers", [](auto& r) { r.DelayBeforeHeaders = 60ms; }, CURLE_OK, "0123456789", 60ms},
      {"delay mid body", [](auto& r) { r.DelayMidBody = 60ms; }, CURLE_OK, "0123456789", 60ms},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    ScriptedResponse response = answer("0123456789");
    c.script(response);
    server.Route("/fault", response);
    Client client;
    auto start = Clock::now();
    Fetched got = client.Get(server.BaseUrl() + "/fault");
    EXPECT_EQ(got.code, c.code) << c.name << ": " << curl_easy_strerror(got.code);
    EXPECT_EQ(got.body, c.body) << c.name;
    EXPECT_GE(Clock::now() - start, c.atLeast) << c.name;
  }
}

TEST(LoopbackServerTest, SendsTheScriptVerbatim) {
  const std::string get = "GET /r HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";
  struct Case {
    std::string name, request;
    std::function<void(ScriptedResponse&)> script;
    std::string reply;
  } cases[] = {
      {"status line and headers as written", get,
       [](auto& r) { r.StatusLine = "HTTP/1.1 200"; r.Headers = {{"X-One", "1"}, {"x-two", "two words"}}; },
       "HTTP/1.1 200\r\nX-One: 1\r\nx-two: two words\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc"},
      {"HEAD gets the head only", "HEAD /r HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n", [](auto&) {},
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\n"},
      {"HTTP/1.0 without keep-alive closes", "GET /r HTTP/1.0\r\n\r\n", [](auto&) {},
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc"},
      {"length override", get, [](auto& r) { r.ContentLengthOverride = "abc"; },
       "HTTP/1.1 200 OK\r\nContent-Length: abc\r\nConnection: close\r\n\r\nabc"},
      {"no length", get, [](auto& r) { r.AddContentLength = false; },
       "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nabc"},
      {"own Connection header kept", "GET /r HTTP/1.1\r\n\r\n",
       [](auto& r) { r.CloseAfter = true; r.Headers = {{"Connection", "keep-alive"}}; },
       "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 3\r\n\r\nabc"},
      {"dropped", get, [](auto& r) { r.DropWithoutAnswer = true; }, ""},
      {"closed mid body", get, [](auto& r) { r.Body = "abcd"; r.CloseMidBody = true; },
       "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nab"},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    ScriptedResponse response = answer("abc");
    c.script(response);
    server.Route("/r", response);
    EXPECT_EQ(exchange(server.Port(), c.request), c.reply) << c.name;
  }
}

TEST(LoopbackServerTest, AnswersPipelinedRequestsInOrderOnOneConnection) {
  LoopbackServer server;
  server.Route("/a", answer("A"));
  server.Route("/p", [](const RecordedRequest& r) { return answer("got " + r.Body); });
  server.Route("/b", answer("B"));
  std::string reply = exchange(server.Port(),
                               "GET /a HTTP/1.1\r\nHost: h\r\n\r\n"
                               "POST /p HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nhello"
                               "GET /b HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(reply,
            "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nA"
            "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\ngot hello"
            "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\nB");
  std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Target, "/a");
  EXPECT_EQ(requests[1].Target, "/p");
  EXPECT_EQ(requests[1].Body, "hello");
  EXPECT_EQ(requests[2].Target, "/b");
  for (const RecordedRequest& r : requests) EXPECT_EQ(r.ConnectionNumber, 1) << r.Target;
}

TEST(LoopbackServerTest, ClientFollowsARedirectChain) {
  LoopbackServer server;
  server.Route("/start", redirectTo("/middle"));
  server.Route("/middle", redirectTo(server.BaseUrl() + "/end", "HTTP/1.1 301 Moved Permanently"));
  server.Route("/end", answer("arrived"));
  Client client;
  curl_easy_setopt(client.handle(), CURLOPT_FOLLOWLOCATION, 1L);
  Fetched got = client.Get(server.BaseUrl() + "/start");
  ASSERT_EQ(got.code, CURLE_OK);
  EXPECT_EQ(got.body, "arrived");
  long redirects = 0;
  curl_easy_getinfo(client.handle(), CURLINFO_REDIRECT_COUNT, &redirects);
  EXPECT_EQ(redirects, 2);
  std::vector<std::string> targets;
  for (const RecordedRequest& r : server.Requests()) targets.push_back(r.Target);
  EXPECT_EQ(targets, (std::vector<std::string>{"/start", "/middle", "/end"}));
}

TEST(LoopbackServerTest, AuthenticationAdmitsOnlyTheRightCredentials) {
  LoopbackServer server;
  server.RequireBasicAuth("/basic/", "ann", "s3cret");
  server.RequireDigestAuth("/digest/", "bob", "pa:ss");
  server.RequireDigestAuth("/basic/inner/", "bob", "pa:ss");
  for (const char* target : {"/basic/page", "/digest/page", "/digest/page?x=1", "/basic/inner/page", "/open"})
    server.Route(target, answer("inside"));
  struct Case {
    std::string name, target;
    long method;
    std::string user, password;
    long status;
    std::string challenge;
  } cases[] = {
      {"basic, right", "/basic/page", CURLAUTH_BASIC, "ann", "s3cret", 200, ""},
      {"basic, wrong password", "/basic/page", CURLAUTH_BASIC, "ann", "wrong", 401, "Basic realm="},
      {"basic, wrong user", "/basic/page", CURLAUTH_BASIC, "bob", "s3cret", 401, "Basic realm="},
      {"basic, none", "/basic/page", CURLAUTH_NONE, "", "", 401, "Basic realm="},
      {"digest, right", "/digest/page", CURLAUTH_DIGEST, "bob", "pa:ss", 200, ""},
      {"digest, right, with query", "/digest/page?x=1", CURLAUTH_DIGEST, "bob", "pa:ss", 200, ""},
      {"digest, wrong password", "/digest/page", CURLAUTH_DIGEST, "bob", "pa:sS", 401, "Digest realm="},
      {"digest, wrong user", "/digest/page", CURLAUTH_DIGEST, "ann", "pa:ss", 401, "Digest realm="},
      {"basic where digest is asked", "/digest/page", CURLAUTH_BASIC, "bob", "pa:ss", 401, "Digest realm="},
      {"longer prefix decides", "/basic/inner/page", CURLAUTH_BASIC, "ann", "s3cret", 401, "Digest realm="},
      {"longer prefix, its own", "/basic/inner/page", CURLAUTH_DIGEST, "bob", "pa:ss", 200, ""},
      {"outside every prefix", "/open", CURLAUTH_NONE, "", "", 200, ""},
  };
  for (const Case& c : cases) {
    Client client;
    if (c.method != CURLAUTH_NONE) {
      curl_easy_setopt(client.handle(), CURLOPT_HTTPAUTH, c.method);
      curl_easy_setopt(client.handle(), CURLOPT_USERNAME, c.user.c_str());
      curl_easy_setopt(client.handle(), CURLOPT_PASSWORD, c.password.c_str());
    }
    Fetched got = client.Get(server.BaseUrl() + c.target);
    ASSERT_EQ(got.code, CURLE_OK) << c.name;
    EXPECT_EQ(got.status, c.status) << c.name;
    if (c.status == 200) {
      EXPECT_EQ(got.body, "inside") << c.name;
    } else {
      EXPECT_NE(got.headers.find("WWW-Authenticate: " + c.challenge), std::string::npos) << c.name;
    }
  }
}

TEST(LoopbackServerTest, TlsClientMustTrustTheServersCertificate) {
  LoopbackServer server(LoopbackServer::Tls::On);
  LoopbackServer stranger(LoopbackServer::Tls::On);
  server.Route("/fixed", answer("secret"));
  ScriptedResponse toClose = answer("until the end");
  toClose.AddContentLength = false;
  server.Route("/to-close", toClose);
  TempDir dir;
  WriteTextFile(dir.File("ca.pem"), server.CaCertificatePem());
  WriteTextFile(dir.File("stranger.pem"), stranger.CaCertificatePem());
  const std::string ipUrl = "https://127.0.0.1:" + std::to_string(server.Port());
  EXPECT_EQ(server.BaseUrl(), "https://localhost:" + std::to_string(server.Port()));
  EXPECT_NE(server.CaCertificatePem(), stranger.CaCertificatePem());
  EXPECT_EQ(LoopbackServer().CaCertificatePem(), "");

  struct Case { std::string name, url, caFile; CURLcode code; std::string body; } cases[] = {
      {"trusted, by name", server.BaseUrl() + "/fixed", dir.File("ca.pem"), CURLE_OK, "secret"},
      {"trusted, by address", ipUrl + "/fixed", dir.File("ca.pem"), CURLE_OK, "secret"},
      {"trusted, body read to close", server.BaseUrl() + "/to-close", dir.File("ca.pem"), CURLE_OK, "until the end"},
      {"another server's certificate", server.BaseUrl() + "/fixed", dir.File("stranger.pem"),
       CURLE_PEER_FAILED_VERIFICATION, ""},
  };
  for (const Case& c : cases) {
    Client client;
    if (!c.caFile.empty()) curl_easy_setopt(client.handle(), CURLOPT_CAINFO, c.caFile.c_str());
    Fetched got = client.Get(c.url);
    EXPECT_EQ(got.code, c.code) << c.name << ": " << curl_easy_strerror(got.code);
    EXPECT_EQ(got.body, c.body) << c.name;
  }
  // The system's trust store never holds this certificate; without the
  // ca-certificates package there is no store at all, a different error.
  Fetched untrusted = Client().Get(server.BaseUrl() + "/fixed");
  EXPECT_TRUE(untrusted.code == CURLE_PEER_FAILED_VERIFICATION || untrusted.code == CURLE_SSL_CACERT_BADFILE)
      << curl_easy_strerror(untrusted.code);
  EXPECT_EQ(untrusted.body, "");
}

TEST(LoopbackServerTest, TlsConnectionIsKeptAlive) {
  LoopbackServer server(LoopbackServer::Tls::On);
  server.Route("/r", answer("again"));
  TempDir dir;
  WriteTextFile(dir.File("ca.pem"), server.CaCertificatePem());
  Client client;
  curl_easy_setopt(client.handle(), CURLOPT_CAINFO, dir.File("ca.pem").c_str());
  Fetched first = client.Get(server.BaseUrl() + "/r");
  Fetched second = client.Get(server.BaseUrl() + "/r");
  ASSERT_EQ(second.code, CURLE_OK) << curl_easy_strerror(second.code);
  EXPECT_EQ(second.body, "again");
  EXPECT_EQ(second.newConnections, 0);
  EXPECT_EQ(server.ConnectionCount(), 1);
}

// Destroys the server on another thread and waits at most half a second.
// A server that cannot stop would hang the whole run; `release` then makes
// the client let go, so that the fault shows as a failure instead.
bool destroyedPromptly(std::optional<LoopbackServer>& server, const std::function<void()>& release) {
  auto destroyed = std::async(std::launch::async, [&] { server.reset(); });
  bool prompt = destroyed.wait_for(500ms) == std::future_status::ready;
  release();
  destroyed.get();
  return prompt;
}

TEST(LoopbackServerTest, DestructorInterruptsAnAnswerInProgress) {
  struct Case {
    std::string name;
    LoopbackServer::Tls tls;
    std::function<void(ScriptedResponse&)> script;
  } cases[] = {
      {"stalled mid body", LoopbackServer::Tls::Off, [](auto& r) { r.StallMidBodyForever = true; }},
      {"stalled mid body, TLS", LoopbackServer::Tls::On, [](auto& r) { r.StallMidBodyForever = true; }},
      {"long delay before headers", LoopbackServer::Tls::Off, [](auto& r) { r.DelayBeforeHeaders = 1h; }},
      {"long delay mid body", LoopbackServer::Tls::Off, [](auto& r) { r.DelayMidBody = 1h; }},
  };
  for (const Case& c : cases) {
    std::optional<LoopbackServer> server(std::in_place, c.tls);
    ScriptedResponse response = answer("0123456789");
    c.script(response);
    server->Route("/slow", response);
    TempDir dir;
    WriteTextFile(dir.File("ca.pem"), server->CaCertificatePem());
    Fetched got;
    std::jthread fetcher([&, url = server->BaseUrl() + "/slow"] {
      Client client;
      curl_easy_setopt(client.handle(), CURLOPT_CAINFO, dir.File("ca.pem").c_str());
      got = client.Get(url);
    });
    ASSERT_TRUE(eventually([&] { return server->RequestCount("/slow") == 1; })) << c.name;
    std::this_thread::sleep_for(20ms);  // into the delay or the stall
    // The client's own timeout is the release.
    EXPECT_TRUE(destroyedPromptly(server, [] {})) << c.name;
    fetcher.join();
    EXPECT_NE(got.code, CURLE_OK) << c.name;
  }
}

TEST(LoopbackServerTest, DestructorDoesNotWaitForASilentClient) {
  struct Case { std::string name, request; } cases[] = {
      {"connected, never sends", ""},
      {"asks for a large body, never reads", "GET /big HTTP/1.1\r\nHost: h\r\n\r\n"},
  };
  for (const Case& c : cases) {
    std::optional<LoopbackServer> server(std::in_place);
    // Far more than the socket buffers hold, so the server blocks in send().
    server->Route("/big", answer(std::string(32 << 20, 'x')));
    int fd = connectTo(server->Port());
    ASSERT_GE(fd, 0) << c.name;
    send(fd, c.request.data(), c.request.size(), MSG_NOSIGNAL);
    ASSERT_TRUE(eventually([&] { return server->ConnectionCount() == 1; })) << c.name;
    if (!c.request.empty()) {
      ASSERT_TRUE(eventually([&] { return bytesWaiting(fd) > 0; })) << c.name;
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(destroyedPromptly(server, [fd] { close(fd); })) << c.name;
  }
}

}  // namespace
