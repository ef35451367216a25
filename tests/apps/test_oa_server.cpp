#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "apps/RawClient.h"
#include "apps/ServerProgram.h"
#include "apps/oa-server/OaServer.h"
#include "apps/oa-server/RequestLog.h"
#include "control/wire/Frames.h"
#include "control/wire/RecordReader.h"

namespace {

// Hand-placed fields, so the expected bytes do not come from the code under test.
void PutText(std::string& f, size_t off, const std::string& text) {
  f[off] = static_cast<char>(text.size());
  f.replace(off + 1, text.size(), text);
}

std::string ExpectedAdminReply() {
  std::string f(380, '\0');
  PutText(f, 0, "LOGN");
  PutText(f, 5, "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}");
  PutText(f, 44, "admin");
  PutText(f, 95, Cp936("系统管理员"));
  PutI32LE(&f[148], 1);
  PutText(f, 152, Cp936("市政府办公室"));
  PutI32LE(&f[204], 12);
  PutText(f, 208, Cp936("信息中心"));
  PutI32LE(&f[260], 1);
  PutText(f, 264, Cp936("管理员"));
  PutI32LE(&f[316], 1);
  PutText(f, 320, Cp936("主任"));
  PutI32LE(&f[372], 9);
  f[376] = 1;
  return f;
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Long enough for a loaded machine: the tests wait for events, never for a time.
constexpr milliseconds kDeadline{20000};

// Polls pred from the test thread; false when it still fails after the deadline.
bool Eventually(const std::function<bool()>& pred, milliseconds timeout = kDeadline) {
  const auto end = Clock::now() + timeout;
  while (!pred()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

ServerOptions QuickOptions() {
  ServerOptions o;
  o.requestTimeoutMs = 500;
  o.idleTimeoutMs = 500;
  return o;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Open(":memory:");
    Start(QuickOptions());
  }
  void Restart(ServerOptions o) {
    TearDown();
    Start(o);
  }
  void Start(ServerOptions o) {
    server_ = std::make_unique<OaServer>(service_, o);
    server_->SetRequestLog([this](const std::string& line) { log_.push_back(line); });
    server_->Listen();
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    server_->Stop();
    thread_.join();
  }
  std::optional<std::string> Exchange(const std::string& wire) {
    RawClient c(server_->Port(), int(kDeadline.count()));
    if (!c.Connected() || !c.Send(wire)) return std::nullopt;
    return c.ReadToClose();
  }
  std::optional<std::string> Login(const std::string& name) {
    return ReplyPayload(Exchange(WireRequest(RequestFrame("LOGN", 380, name))));
  }
  // A real login while an attack runs: answered, and answered correctly.
  void ServedLogin() { EXPECT_EQ(Login("admin"), ExpectedAdminReply()); }

  OaDatabase db_;
  oa::OaService service_{db_};
  std::unique_ptr<OaServer> server_;
  std::thread thread_;
  std::vector<std::string> log_;  // written by the server thread, read after it answered
};

TEST_F(ServerTest, LoginRepliesCarryTheSessionRecordOrAnEmptyUser) {
  EXPECT_EQ(Login("admin"), ExpectedAdminReply());

  std::string refused(380, '\0');
  PutText(refused, 0, "LOGN");
  EXPECT_EQ(Login("nobody"), refused);
  // A name that only matches after dropping a cut double-byte character is unknown too.
  EXPECT_EQ(Login(std::string("admin") + '\xB0'), refused);

  const auto zhang = Login("zhangsan");
  ASSERT_TRUE(zhang);
  EXPECT_EQ(wire::RecordReader(*zhang, 380, "Login reply").Text(95, 50), Cp936("张三"));
  EXPECT_EQ(GetI32LE(zhang->data() + 372), 5);
}

TEST_F(ServerTest, UnknownDocumentQueryIsAnsweredWithAServerMessage) {
  const auto reply = ReplyPayload(Exchange(WireRequest(RequestFrame("QUEY", 596))));
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->size(), 106u);
  EXPECT_EQ(reply->substr(0, 5), std::string("\x04SMSG"));
  const AnsiString text = wire::RecordReader(*reply, 106, "Server message").Text(5, 100);
  EXPECT_EQ(text, oa::DocumentNotFoundText());
  EXPECT_NE(text[0], '|');  // shown in the popup, not a message box
}

TEST_F(ServerTest, EachRequestIsLoggedAsCodeLengthAndHex) {
  ASSERT_TRUE(Login("abc"));
  ASSERT_EQ(log_.size(), 1u);
  const std::string frameHex = "044c4f474e" "03616263" + std::string(2 * (380 - 9), '0');
  EXPECT_EQ(log_[0], "LOGN 380 " + frameHex);
  // A large frame is logged by its length and first bytes only.
  Exchange(WireRequest(RequestFrame("ZZZZ", 100000, "abc")));
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_EQ(log_[1], "ZZZZ 100000 045a5a5a5a" "03616263" + std::string(2 * (64 - 9), '0') + "...");
  EXPECT_EQ(oa::FormatLogLine(std::string("\x04" "A\x01" "B\xff", 5), "\x04" "A\x01" "B\xff"),
            "A?B? 5 0441014" "2ff");
}

TEST_F(ServerTest, HostileRequestsAreClosedWithoutReplyAndTheNextRequestWorks) {
  const std::string login = RequestFrame("LOGN", 380, "admin");
  std::string badText = login;
  badText[5] = 39;  // s[38] claiming 39 bytes
  std::string otherCode = login;
  otherCode.replace(1, 4, "QUEY");
  const std::vector<std::pair<const char*, std::string>> hostile = {
      {"negative length", WireRequest(login, -1)},
      {"length above 64 MiB", WireRequest(login, 64 * 1024 * 1024 + 1)},
      {"length shorter than a code", WireRequest(login.substr(0, 4), 4)},
      {"short login frame", WireRequest(RequestFrame("LOGN", 40, "admin"))},
      {"short query frame", WireRequest(RequestFrame("QUEY", 300))},
      {"text longer than its field", WireRequest(badText)},
      {"frame code differs from header", WireRequest(login).replace(0, 5, "\x04QUEY")},
      {"no code field", WireRequest(std::string(380, 'x'))},
      {"unknown code", WireRequest(RequestFrame("ZZZZ", 156))},
      {"short document command", WireRequest(RequestFrame("DCMD", 100))},
  };
  for (const auto& [what, wire] : hostile) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Exchange(wire), std::string()) << "expected a close without reply";
    EXPECT_EQ(Login("admin"), ExpectedAdminReply());
  }
}

TEST_F(ServerTest, StuckClientsAreTimedOutAndDoNotBlockOthers) {
  // One client sends nothing, one announces 64 MiB and stalls after a few bytes, one stops
  // inside the length: all three are closed by the request time-out.
  RawClient silent(server_->Port());
  RawClient stalled(server_->Port());
  RawClient halfHeader(server_->Port());
  ASSERT_TRUE(stalled.Send(WireRequest(std::string("\x04LOGN", 5), 64 * 1024 * 1024).substr(0, 9) + "abc"));
  ASSERT_TRUE(halfHeader.Send(std::string("\x04LOGN\x7c\x01", 7)));

  EXPECT_EQ(Login("admin"), ExpectedAdminReply());  // served while the others hang

  // Closed by the server (a time-out of the client's own would read nullopt): nothing but
  // the request time-out ends a connection that never completes its request.
  EXPECT_EQ(silent.ReadToClose(), std::string());
  EXPECT_EQ(stalled.ReadToClose(), std::string());
  EXPECT_EQ(halfHeader.ReadToClose(), std::string());
}

TEST_F(ServerTest, AThousandIdleClientsAreHeldWhileALoginIsAnswered) {
  if (OaServer::RaiseFileLimit() < 2200) GTEST_SKIP() << "open-file limit too low for both ends";
  ServerOptions o = QuickOptions();
  o.requestTimeoutMs = 60000;  // only the number of clients is under test here
  Restart(o);
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 1000; ++i) idle.push_back(std::make_unique<RawClient>(server_->Port()));
  ASSERT_TRUE(Eventually([&] { return server_->OpenConnections() == 1000; }));
  ServedLogin();
  EXPECT_FALSE(idle.front()->ClosedByServer());
  EXPECT_FALSE(idle.back()->ClosedByServer());
}

TEST_F(ServerTest, WhenFullTheLongestIdleConnectionMakesRoom) {
  ServerOptions o = QuickOptions();
  o.requestTimeoutMs = 60000;
  o.maxConnections = 50;
  Restart(o);
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 60; ++i) idle.push_back(std::make_unique<RawClient>(server_->Port()));
  ASSERT_TRUE(Eventually([&] { return idle[9]->ClosedByServer(); }));
  EXPECT_TRUE(Eventually([&] { return server_->OpenConnections() == 50; }));
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(Eventually([&] { return idle[i]->ClosedByServer(); })) << i;
  for (int i = 10; i < 60; ++i) EXPECT_FALSE(idle[i]->ClosedByServer()) << i;
  // A new client is served, at the cost of the next longest idle one only.
  ServedLogin();
  EXPECT_TRUE(Eventually([&] { return idle[10]->ClosedByServer(); }));
  EXPECT_FALSE(idle[11]->ClosedByServer());
}

TEST_F(ServerTest, DrippingClientsAreClosedAfterTheRequestTimeOut) {
  ServerOptions o = QuickOptions();
  o.idleTimeoutMs = 60000;  // they are never idle: only the request time-out can end them
  Restart(o);
  std::vector<std::unique_ptr<RawClient>> drip;
  for (int i = 0; i < 64; ++i) drip.push_back(std::make_unique<RawClient>(server_->Port()));
  const std::string wire = WireRequest(RequestFrame("LOGN", 380, "admin"));
  // One byte each every 150 ms, never the last one, until the server has closed them all:
  // no request is ever complete, yet no connection is ever idle.
  std::atomic<bool> stop{false};
  std::thread dripper([&] {
    for (size_t i = 0; i + 1 < wire.size() && !stop; ++i) {
      bool open = false;
      for (auto& c : drip) {
        if (c->ClosedByServer()) continue;
        open = true;
        c->Send(wire.substr(i, 1));
      }
      if (!open) return;
      std::this_thread::sleep_for(milliseconds(150));
    }
  });
  ServedLogin();
  ServedLogin();
  // All gone while they are still sending: only the request time-out can have ended them.
  EXPECT_TRUE(Eventually([&] { return server_->OpenConnections() == 0; }));
  stop = true;
  dripper.join();
  for (auto& c : drip) EXPECT_EQ(c->ReadToClose(), std::string());
}

TEST_F(ServerTest, BufferedRequestsStayWithinTheBudget) {
  ServerOptions o = QuickOptions();
  o.requestTimeoutMs = 60000;
  o.maxBufferedBytes = 2 * 1024 * 1024;
  Restart(o);
  // Each announces 1 MiB and stops after three quarters of it.
  const std::string part = WireRequest(RequestFrame("SABB", 1024 * 1024)).substr(0, 9 + 768 * 1024);
  std::vector<std::unique_ptr<RawClient>> hogs;
  for (int i = 0; i < 8; ++i) {
    hogs.push_back(std::make_unique<RawClient>(server_->Port()));
    hogs.back()->Send(part);
  }
  const auto closed = [&] {
    return std::count_if(hogs.begin(), hogs.end(), [](auto& h) { return h->ClosedByServer(); });
  };
  // No more than two fit; the others were dropped to make room.
  EXPECT_TRUE(Eventually([&] { return closed() >= 6; }));
  ServedLogin();
  EXPECT_LE(server_->PeakBufferedBytes(), o.maxBufferedBytes);
  EXPECT_GT(server_->PeakBufferedBytes(), o.maxBufferedBytes / 2);
  // The login needed room too: the longest idle holder made it.
  EXPECT_TRUE(Eventually([&] { return closed() >= 7; }));
  hogs.clear();
  EXPECT_TRUE(Eventually([&] { return server_->BufferedBytes() == 0; }));
}

TEST_F(ServerTest, RequestSentInSmallPiecesIsReassembled) {
  ServerOptions o = QuickOptions();
  o.requestTimeoutMs = 60000;  // the pieces may come slowly on a busy machine
  Restart(o);
  RawClient c(server_->Port());
  const std::string wire = WireRequest(RequestFrame("LOGN", 380, "admin"));
  for (size_t i = 0; i < wire.size(); i += 7) {
    ASSERT_TRUE(c.Send(wire.substr(i, 7)));
    if (i < 30) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(ReplyPayload(c.ReadToClose()), ExpectedAdminReply());
}

TEST(OaDatabaseTest, NewFileGetsSampleDataOnceAndKeepsIt) {
  const auto path = std::filesystem::temp_directory_path() / ("oa-db-" + std::to_string(getpid()) + ".sqlite");
  std::filesystem::remove(path);
  {
    OaDatabase db;
    db.Open(path.string());
    EXPECT_EQ(db.UserCount(), 12);
    ASSERT_TRUE(db.FindUserByLogin("admin"));
  }
  {
    OaDatabase again;
    again.Open(path.string());
    EXPECT_EQ(again.UserCount(), 12);  // not filled twice
    const auto lisi = again.FindUserByLogin("lisi");
    ASSERT_TRUE(lisi);
    EXPECT_EQ(lisi->DeptName, Cp936("秘书科"));
    EXPECT_EQ(lisi->CompID, 1);
  }
  std::filesystem::remove(path);

  OaDatabase bad;
  EXPECT_THROW(bad.Open("/nonexistent-dir/x.sqlite"), Exception);
}

// ---- the request log ---------------------------------------------------------------

std::vector<std::string> FileLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(RequestLogFileTest, AFullLogMovesAsideWholeAndTheNewOneContinuesIt) {
  TempDir dir;
  const auto path = dir / "requests.log";
  {
    std::ofstream(path) << std::string(900, 'o') << "\n";  // a restarted server's log
  }
  {
    RequestLogFile log(path.string(), 1000);
    for (int i = 0; i < 50; ++i) log.Write("line " + std::to_string(i) + " " + std::string(90, 'x'));
    EXPECT_TRUE(log.Failed().empty());
  }
  EXPECT_LE(std::filesystem::file_size(path), 1000u);
  EXPECT_LE(std::filesystem::file_size(dir / "requests.log.1"), 1000u);
  EXPECT_FALSE(std::filesystem::exists(dir / "requests.log.2"));
  // Together the two files end with the newest lines in order, each line whole.
  std::vector<std::string> lines = FileLines(dir / "requests.log.1");
  for (const std::string& l : FileLines(path)) lines.push_back(l);
  ASSERT_GE(lines.size(), 10u);
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i], "line " + std::to_string(50 - lines.size() + i) + " " + std::string(90, 'x'));

  // A line longer than the limit is still written whole, alone in its file.
  {
    RequestLogFile log(path.string(), 1000);
    log.Write(std::string(1500, 'L'));
  }
  EXPECT_EQ(FileLines(path), std::vector<std::string>{std::string(1500, 'L')});
}

TEST(ServerProgramTest, TheRequestLogStaysWithinItsLimitAndReadable) {
  TempDir dir;
  const auto log = dir / "requests.log";
  ServerProgram server({"--port", "0", "--log", log.string(), "--log-limit", "1"});
  ASSERT_NE(server.Port(), 0);
  // Some 2.4 MB of log lines against a limit of 1 MiB.
  const std::string wire = WireRequest(RequestFrame("LOGN", 380, "admin"));
  constexpr int kRequests = 3000;
  for (int i = 0; i < kRequests; ++i) {
    RawClient c(server.Port());
    ASSERT_TRUE(c.Connected() && c.Send(wire));
    ASSERT_TRUE(c.ReadToClose()) << i;
  }
  constexpr uintmax_t kLimit = 1024 * 1024;
  EXPECT_LE(std::filesystem::file_size(log), kLimit);
  EXPECT_LE(std::filesystem::file_size(dir / "requests.log.1"), kLimit);
  EXPECT_FALSE(std::filesystem::exists(dir / "requests.log.2"));
  // Every line kept is the request as it came: code, length and the frame in hex.
  const std::string expected = "LOGN 380 044c4f474e0561646d696e" + std::string(2 * (380 - 11), '0');
  size_t kept = 0;
  for (const auto& file : {dir / "requests.log.1", log})
    for (const std::string& line : FileLines(file)) {
      EXPECT_EQ(line, expected);
      ++kept;
    }
  EXPECT_GT(kept, kLimit / expected.size());
  EXPECT_LT(kept, size_t(kRequests));
}

}  // namespace
