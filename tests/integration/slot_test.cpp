// One connection slot against scripted server answers: what a finished
// attempt hands back to the dispatcher.
#include <filesystem>
#include <fstream>

#include "enginefixture.h"
#include "tasks/thxqitem.h"

namespace fs = std::filesystem;

namespace {

struct Report {
  bool Done = false;
  std::string Status, Result, LastModified;
  std::int64_t ContentLength = -1, Bytes = -1;
  int Progress = 0;
};

class SlotTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    SocketList().SetSlotCount(1);
  }
  std::string File(const std::string& name) { return box.Dir().Path() + "files/" + name; }

  // Arms the slot, waits for its report; the slot is cleared afterwards.
  Report Fetch(const std::string& url, const std::string& file, bool useCache = false) {
    Report r;
    TThreadSocket::Arming a;
    a.URL = url;
    a.LocalFile = file;
    a.UseCache = useCache;
    a.UserAgent = "HarvixTest/1";
    a.User = user;
    a.Password = password;
    a.Item = std::make_unique<THXQItem>(&Task());
    a.OnProgress = [&](TThreadSocket&) { ++r.Progress; };
    a.OnDone = [&](TThreadSocket& s) {
      r.Done = true;
      r.Status = s.StatusText();
      r.Result = s.ResultCode();
      r.LastModified = s.LastModified();
      r.ContentLength = s.ContentLength();
      r.Bytes = s.BytesReceived();
      s.ClearSlot();
    };
    SocketList()[0].Arm(std::move(a));
    EXPECT_TRUE(PumpUntil([&] { return r.Done; })) << url;
    return r;
  }
  std::string user, password;
};

ScriptedResponse Body(std::string body) {
  ScriptedResponse r;
  r.Body = std::move(body);
  return r;
}

TEST_F(SlotTest, AnswersBecomeOutcomes) {
  const std::string big(100000, 'x');
  struct Case {
    const char* name;
    ScriptedResponse response;
    const char* status;
    const char* result;
    std::int64_t contentLength, bytes;
    bool saved;
  } cases[] = {
      {"with length", Body("hello"), "Transfer Complete", "200 OK", 5, 5, true},
      {"without length", [] { auto r = Body("hello"); r.AddContentLength = false; return r; }(), "Transfer Complete", "200 OK", 0, 5, true},
      {"not found", [] { auto r = Body("gone"); r.StatusLine = "HTTP/1.1 404 Not Found"; return r; }(), "Error", "404 Not Found", 0, 0, false},
      {"server error", [] { auto r = Body("oops"); r.StatusLine = "HTTP/1.1 500 Internal Server Error"; return r; }(), "Error", "500 Internal Server Error", 0, 0, false},
      {"truncated body", [&] { auto r = Body(big); r.CloseMidBody = true; return r; }(), "Error", "200 OK", 0, 0, false},
      {"dropped", [] { ScriptedResponse r; r.DropWithoutAnswer = true; return r; }(), "Error", "", 0, 0, false},
      {"garbage status", [] { auto r = Body("x"); r.StatusLine = "BLAH"; return r; }(), "Error", "", 0, 0, false},
      {"slow but steady", [&] { auto r = Body(big); r.DelayMidBody = std::chrono::milliseconds(300); return r; }(), "Transfer Complete", "200 OK", 100000, 100000, true},
  };
  int n = 0;
  for (auto& c : cases) {
    const std::string path = "/case" + std::to_string(n++);
    server.Route(path, c.response);
    const std::string file = File("case" + std::to_string(n));
    const Report r = Fetch(Url(path), file);
    EXPECT_EQ(r.Status, c.status) << c.name;
    EXPECT_EQ(r.Result, c.result) << c.name;
    EXPECT_EQ(r.ContentLength, c.contentLength) << c.name;
    EXPECT_EQ(r.Bytes, c.bytes) << c.name;
    EXPECT_EQ(fs::exists(file), c.saved) << c.name;
    if (c.saved) {
      EXPECT_EQ(ReadTextFile(file), c.response.Body) << c.name;
    }
    EXPECT_FALSE(SocketList()[0].Busy()) << c.name;
  }
  // No temp file is left behind by any of them.
  for (const auto& e : fs::directory_iterator(box.Dir().Path() + "files"))
    EXPECT_EQ(e.path().string().find(".hxpart"), std::string::npos) << e.path();
}

TEST_F(SlotTest, NonNumericContentLengthIsNoSize) {
  auto r = Body("hello");
  r.ContentLengthOverride = "abc";
  server.Route("/abc", r);
  const Report got = Fetch(Url("/abc"), File("abc"));
  EXPECT_EQ(got.ContentLength, 0);
  // The body cannot be framed by a length that is no number: what arrives
  // is either taken whole or refused, never taken as a size.
  EXPECT_TRUE(got.Status == "Transfer Complete" || got.Status == "Error") << got.Status;
}

TEST_F(SlotTest, StatusLineWithoutABlankIsTheWholeResult) {
  auto r = Body("x");
  r.StatusLine = "HTTP/1.1";
  server.Route("/noblank", r);
  const Report got = Fetch(Url("/noblank"), File("noblank"));
  EXPECT_EQ(got.Status, "Error");
}

TEST_F(SlotTest, RedirectChainEndsAtTheLastAnswer) {
  ScriptedResponse hop1, hop2;
  hop1.StatusLine = "HTTP/1.1 302 Found";
  hop1.Headers = {{"Location", "/hop2"}};
  hop2.StatusLine = "HTTP/1.1 301 Moved Permanently";
  hop2.Headers = {{"Location", Url("/final")}};
  server.Route("/hop1", hop1);
  server.Route("/hop2", hop2);
  auto final = Body("arrived");
  final.Headers = {{"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"}};
  server.Route("/final", final);
  const Report r = Fetch(Url("/hop1"), File("final"));
  EXPECT_EQ(r.Status, "Transfer Complete");
  EXPECT_EQ(r.Result, "200 OK");
  EXPECT_EQ(r.ContentLength, 7);
  EXPECT_EQ(r.LastModified, "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(ReadTextFile(File("final")), "arrived");
}

TEST_F(SlotTest, BasicAndDigestAuthenticationUseTheTaskCredentials) {
  server.Route("/basic/page", Body("basic ok"));
  server.Route("/digest/page", Body("digest ok"));
  server.RequireBasicAuth("/basic/", "anna", "s3cret");
  server.RequireDigestAuth("/digest/", "anna", "s3cret");
  user = "anna";
  password = "s3cret";
  EXPECT_EQ(Fetch(Url("/basic/page"), File("b")).Status, "Transfer Complete");
  EXPECT_EQ(Fetch(Url("/digest/page"), File("d")).Status, "Transfer Complete");
  EXPECT_EQ(ReadTextFile(File("d")), "digest ok");
  password = "wrong";
  const Report denied = Fetch(Url("/digest/page"), File("denied"));
  EXPECT_EQ(denied.Status, "Error");
  EXPECT_EQ(denied.Result.substr(0, 3), "401");
}

TEST_F(SlotTest, StallIsEndedByTheTimeOut) {
  auto r = Body(std::string(10000, 's'));
  r.StallMidBodyForever = true;
  server.Route("/stall", r);
  TThreadSocket::Settings().StallSeconds = 1;
  const auto start = std::chrono::steady_clock::now();
  const Report got = Fetch(Url("/stall"), File("stall"));
  EXPECT_EQ(got.Status, "Error");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_FALSE(fs::exists(File("stall")));
}

TEST_F(SlotTest, StoppedTransferIsNotReportedAndKeepsTheEarlierCopy) {
  WriteTextFile(File("keep.html"), "earlier copy");
  auto r = Body(std::string(50000, 'n'));
  r.StallMidBodyForever = true;
  server.Route("/stop", r);
  bool reported = false;
  TThreadSocket::Arming a;
  a.URL = Url("/stop");
  a.LocalFile = File("keep.html");
  a.Item = std::make_unique<THXQItem>(&Task());
  a.OnDone = [&](TThreadSocket&) { reported = true; };
  TThreadSocket& slot = SocketList()[0];
  slot.Arm(std::move(a));
  ASSERT_TRUE(PumpUntil([&] { return slot.BytesReceived() > 0; }));
  slot.StopTransfer();
  EXPECT_FALSE(slot.Busy());
  // The aborted attempt winds down without telling anyone.
  PumpUntil([] { return false; }, std::chrono::milliseconds(500));
  EXPECT_FALSE(reported);
  EXPECT_EQ(ReadTextFile(File("keep.html")), "earlier copy");
  // The slot serves the next arming as usual.
  server.Route("/next", Body("next"));
  EXPECT_EQ(Fetch(Url("/next"), File("next")).Status, "Transfer Complete");
}

TEST_F(SlotTest, UseCacheSendsAConditionalRequestAndA304KeepsTheFile) {
  WriteTextFile(File("cached.html"), "cached copy");
  server.Route("/cached.html", LoopbackServer::Handler([](const RecordedRequest& req) {
    ScriptedResponse r;
    if (!req.Header("If-Modified-Since").empty()) {
      r.StatusLine = "HTTP/1.1 304 Not Modified";
    } else {
      r.Body = "fresh";
    }
    return r;
  }));
  const Report kept = Fetch(Url("/cached.html"), File("cached.html"), true);
  EXPECT_EQ(kept.Status, "Transfer Complete");
  EXPECT_EQ(kept.Result, "304 Not Modified");
  EXPECT_EQ(kept.Bytes, 11);
  EXPECT_EQ(ReadTextFile(File("cached.html")), "cached copy");
  const Report fresh = Fetch(Url("/cached.html"), File("cached.html"), false);
  EXPECT_EQ(fresh.Result, "200 OK");
  EXPECT_EQ(ReadTextFile(File("cached.html")), "fresh");
}

TEST_F(SlotTest, LocalFilesAreCopiedAndOtherSchemesRefused) {
  WriteTextFile(File("source.txt"), "local content");
  const Report copied = Fetch("file://" + File("source.txt"), File("copy/target.txt"));
  EXPECT_EQ(copied.Status, "Transfer Complete");
  EXPECT_EQ(copied.Result, "");
  EXPECT_EQ(copied.Bytes, 13);
  EXPECT_EQ(ReadTextFile(File("copy/target.txt")), "local content");
  struct Case { std::string url; } refused[] = {{"file://" + File("missing.txt")}, {"ftp://127.0.0.1/x"}, {"news://group"}};
  for (const auto& c : refused) {
    const Report r = Fetch(c.url, File("refused"));
    EXPECT_EQ(r.Status, "Error") << c.url;
    EXPECT_FALSE(SocketList()[0].Busy()) << c.url;
  }
}

TEST_F(SlotTest, SchemeTestsIgnoreCase) {
  server.Route("/Mixed.html", Body("mixed"));
  std::string url = Url("/Mixed.html");
  url.replace(0, 4, "HtTp");
  EXPECT_EQ(Fetch(url, File("mixed")).Status, "Transfer Complete");
}

TEST_F(SlotTest, ProgressIsReportedBeforeTheOutcome) {
  server.Route("/progress", Body(std::string(300000, 'p')));
  const Report r = Fetch(Url("/progress"), File("progress"));
  EXPECT_GE(r.Progress, 1);
}

TEST_F(SlotTest, ShrinkingKeepsBusySlots) {
  auto stall = Body(std::string(10000, 'z'));
  stall.StallMidBodyForever = true;
  server.Route("/busy", stall);
  SocketList().SetSlotCount(5);
  for (std::size_t i = 2; i < 5; ++i) {
    TThreadSocket::Arming a;
    a.URL = Url("/busy");
    a.LocalFile = File("busy" + std::to_string(i));
    SocketList()[i].Arm(std::move(a));
  }
  TThreadSocket* busy[] = {&SocketList()[2], &SocketList()[3], &SocketList()[4]};
  SocketList().SetSlotCount(2);
  ASSERT_EQ(SocketList().Count(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(&SocketList()[i], busy[i]);
  SocketList()[2].StopTransfer();
  SocketList().SetSlotCount(2);
  EXPECT_EQ(SocketList().Count(), 2u);
  EXPECT_EQ(SocketList().CountBusySlots(), 2);
}

TEST_F(SlotTest, HttpsNeedsACertificateWeTrust) {
  LoopbackServer secure(LoopbackServer::Tls::On);
  secure.Route("/secure.html", Body("secret page"));
  EXPECT_EQ(Fetch(secure.BaseUrl() + "/secure.html", File("untrusted")).Status, "Error");
  WriteTextFile(File("ca.pem"), secure.CaCertificatePem());
  TThreadSocket::Settings().CaFile = File("ca.pem");
  const Report r = Fetch(secure.BaseUrl() + "/secure.html", File("trusted"));
  EXPECT_EQ(r.Status, "Transfer Complete");
  EXPECT_EQ(ReadTextFile(File("trusted")), "secret page");
}

}  // namespace
