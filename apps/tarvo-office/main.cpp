// tarvo-office: the office-document worker. The control starts it on first use with the
// path of a local socket to connect to, then sends it requests (platform/office/
// OfficeWire.h) one at a time and waits for each answer. This is the only program that
// loads the office suite, so a crash or hang of the suite never takes the control down.
//
//   tarvo-office <socket path>
// The tiled-rendering calls are in the kit's unstable part.
#define LOK_USE_UNSTABLE_API
#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <LibreOfficeKit/LibreOfficeKitEnums.h>
#include <LibreOfficeKit/LibreOfficeKitInit.h>
#include <ftw.h>
#include <langinfo.h>
#include <locale.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Exception.h"
#include "platform/office/OfficeWire.h"

namespace {

using namespace office_wire;
using Clock = std::chrono::steady_clock;

constexpr const char* kInstallPath = "/usr/lib/libreoffice/program";

// A request the suite could not carry out; its text is the answer.
class Failure : public Exception {
 public:
  using Exception::Exception;
};

// The suite itself cannot run here: answered apart, so the control can say so.
class CannotStart : public Failure {
 public:
  using Failure::Failure;
};

// ---- socket -------------------------------------------------------------------------

int g_sock = -1;

bool ReadAll(char* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::read(g_sock, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// Answers and signs of life come from two threads; a frame goes out whole.
std::mutex g_writeMutex;

bool WriteAll(const std::string& s) {
  const std::lock_guard<std::mutex> lock(g_writeMutex);
  const char* p = s.data();
  size_t n = s.size();
  while (n > 0) {
    ssize_t r = ::send(g_sock, p, n, MSG_NOSIGNAL);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// ---- what the suite reports through its callback -----------------------------------

// One loaded document and what the suite has told about it. Callbacks arrive on the
// suite's own thread; everything they touch is guarded by g_mutex.
struct OpenDoc {
  std::unique_ptr<lok::Document> doc;
  std::map<std::string, std::string> states;  // ".uno:TrackChanges" -> "true"
  std::vector<std::string> unoResults;        // payloads of command results
};

std::mutex g_mutex;
std::condition_variable g_cv;
std::map<uint32_t, std::unique_ptr<OpenDoc>> g_docs;
uint32_t g_nextDoc = 1;

void DocumentCallback(int type, const char* payload, void* data) {
  auto* d = static_cast<OpenDoc*>(data);
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string p = payload ? payload : "";
  if (type == LOK_CALLBACK_STATE_CHANGED) {
    auto eq = p.find('=');
    if (eq != std::string::npos) d->states[p.substr(0, eq)] = p.substr(eq + 1);
  } else if (type == LOK_CALLBACK_UNO_COMMAND_RESULT) {
    d->unoResults.push_back(p);
  }
  g_cv.notify_all();
}

// Events the suite posts to its own loop (keys, commands) run later on its thread. A
// command posted after them with a result notification comes back only once they ran.
bool WaitForCommandResult(OpenDoc& d, const std::string& command, int timeoutMs, bool* success) {
  std::unique_lock<std::mutex> lock(g_mutex);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    for (size_t i = 0; i < d.unoResults.size(); ++i) {
      const std::string& r = d.unoResults[i];
      if (r.find("\"" + command + "\"") != std::string::npos) {
        if (success) *success = r.find("\"success\":true") != std::string::npos ||
                                r.find("\"success\": true") != std::string::npos;
        d.unoResults.erase(d.unoResults.begin() + static_cast<long>(i));
        return true;
      }
    }
    if (g_cv.wait_until(lock, deadline) == std::cv_status::timeout) return false;
  }
}

// ---- the suite ----------------------------------------------------------------------

std::unique_ptr<lok::Office> g_office;
OpenDoc* g_cur = nullptr;  // the document the request names
std::string g_tmpDir;

std::string FileUrl(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

// "" when neither is set.
std::string CacheDir() {
  if (const char* x = getenv("XDG_CACHE_HOME"); x && *x) return x;
  if (const char* h = getenv("HOME"); h && *h) return std::string(h) + "/.cache";
  return "";
}

void MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0700);
}

// The suite keeps its temporary files in a folder of the worker's own, made before any
// thread runs inside the socket's folder: the control made that one private, checked it
// is the user's own and removes it whatever the worker left.
void MakeTmpDir(const std::string& socketPath) {
  const size_t slash = socketPath.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  std::string tmpl = socketPath.substr(0, slash) + "/tarvo-office-XXXXXX";
  if (mkdtemp(tmpl.data())) {
    g_tmpDir = tmpl;
    setenv("TMPDIR", g_tmpDir.c_str(), 1);
  }
}

// The thread that ends the worker on SIGTERM (see EndOnTerm).
pthread_t g_endThread;

// The suite installs its own SIGTERM handler, which ends the process without our
// clean-up, and its threads do not block the signal: whichever thread takes it hands it
// on to the ending thread, which waits for it blocked.
void HandOnTerm(int) { pthread_kill(g_endThread, SIGTERM); }

void TakeTermBack() {
  struct sigaction sa {};
  sa.sa_handler = HandOnTerm;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
}

std::string ReadWhole(const std::string& path) {
  std::string out;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    fclose(f);
  }
  return out;
}

// The suite's own version ("7.4"), as its installation's settings give it; "" when unknown.
std::string SuiteVersion() {
  const std::string xcd = ReadWhole(std::string(kInstallPath) + "/../share/registry/main.xcd");
  const std::string prop = "<prop oor:name=\"ooSetupVersion\">";
  for (size_t at = xcd.find(prop); at != std::string::npos; at = xcd.find(prop, at + 1)) {
    const size_t value = xcd.find("<value>", at);
    const size_t end = value == std::string::npos ? value : xcd.find("</value>", value);
    const size_t next = xcd.find("</prop>", at);
    if (end == std::string::npos || end > next) continue;
    std::string v = xcd.substr(value + 7, end - value - 7);
    if (!v.empty() && v.size() < 20 && v.find_first_not_of("0123456789.") == std::string::npos) return v;
  }
  return "";
}

// At every start the suite compares the version it last ran as with its own and, when they
// differ, first runs its graphics self-tests: seconds on a busy machine before the first
// document can open. It records the version only when a desktop window shows, which the
// kit never has, so the profile is told here, once.
void RecordSuiteVersion(const std::string& profile) {
  const std::string version = SuiteVersion();
  if (version.empty()) return;
  const std::string path = profile + "/user/registrymodifications.xcu";
  const std::string item = "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
                           "oor:op=\"fuse\"><value>" + version + "</value></prop></item>\n";
  std::string text = ReadWhole(path);
  // Recorded already, or by the suite itself (then its own to settle).
  if (text.find("ooSetupLastVersion") != std::string::npos) return;
  if (text.rfind("</oor:items>") == std::string::npos) {
    if (!text.empty()) return;  // not a file we understand: left alone
    text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
           "</oor:items>\n";
  }
  text.insert(text.rfind("</oor:items>"), item);
  MakeDirs(profile + "/user");
  // Whole or not at all: the suite reads it next.
  const std::string tmp = path + ".tarvo-" + std::to_string(getpid());
  FILE* f = fopen(tmp.c_str(), "wb");
  if (!f) return;
  const bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
  if (fclose(f) != 0 || !written || rename(tmp.c_str(), path.c_str()) != 0) ::unlink(tmp.c_str());
}

// Documents reach the suite as file URLs of UTF-8 names; under a locale without UTF-8 (no
// LANG at all, as under a bare service) it cannot turn such a URL back into a path and
// refuses every document whose name is not ASCII.
void UseUtf8FileNames() {
  setlocale(LC_ALL, "");
  const char* codeset = nl_langinfo(CODESET);
  if (codeset && strcmp(codeset, "UTF-8") == 0) return;
  setenv("LC_ALL", "C.UTF-8", 1);
  setlocale(LC_ALL, "C.UTF-8");
}

// The suite keeps its profile apart from everyone else's: without a cache folder, in the
// worker's own folder, never in the shared temporary one.
void StartOffice() {
  if (g_office) return;
  const std::string cache = CacheDir();
  if (cache.empty() && g_tmpDir.empty()) throw CannotStart("no folder for the office suite's profile");
  std::string profile = cache.empty() ? g_tmpDir + "/office-profile" : cache + "/tarvo/office-profile";
  MakeDirs(profile);
  RecordSuiteVersion(profile);
  setenv("SAL_USE_VCLPLUGIN", "svp", 1);
  UseUtf8FileNames();
  g_office.reset(lok::lok_cpp_init(kInstallPath, FileUrl(profile).c_str()));
  TakeTermBack();
  if (!g_office) throw CannotStart(std::string("the office suite in ") + kInstallPath + " could not be started");
}

// Runs a command that changes nothing we keep (spelling marks stay off) after whatever
// was posted before, and waits for its result: then everything before it has run.
void Settle(OpenDoc& d, int timeoutMs = 5000) {
  static const char* kBarrier = ".uno:SpellOnline";
  d.doc->postUnoCommand(kBarrier, R"({"SpellOnline":{"type":"boolean","value":false}})", true);
  WaitForCommandResult(d, kBarrier, timeoutMs, nullptr);
}
void Settle() { Settle(*g_cur); }

// How long opening waits for the barrier (sizes are read synchronously afterwards anyway).
constexpr int kOpenSettleMs = 1000;

lok::Document& Doc() { return *g_cur->doc; }

void CloseDoc(uint32_t id) {
  auto it = g_docs.find(id);
  if (it == g_docs.end()) return;
  std::unique_ptr<OpenDoc> d = std::move(it->second);
  d->doc.reset();  // no callbacks after this
  std::lock_guard<std::mutex> lock(g_mutex);
  g_docs.erase(it);
}

void Open(Reader& in, Writer& out) {
  std::string path = in.Str();
  std::string options = in.Str();
  StartOffice();
  lok::Document* loaded = g_office->documentLoad(FileUrl(path).c_str(), "Language=zh-CN");
  if (!loaded) {
    char* e = g_office->getError();
    std::string msg = e ? e : "the document could not be opened";
    if (e) free(e);
    throw Failure(msg);
  }
  auto d = std::make_unique<OpenDoc>();
  d->doc.reset(loaded);
  OpenDoc& doc = *d;
  const uint32_t id = g_nextDoc++;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_docs[id] = std::move(d);
  }
  doc.doc->initializeForRendering(options.empty() ? nullptr : options.c_str());
  doc.doc->registerCallback(DocumentCallback, &doc);
  // Right after loading, the suite now and then never answers the barrier: a short wait,
  // or the first document of a new worker would stand blank for the whole default wait.
  Settle(doc, kOpenSettleMs);
  long w = 0, h = 0;
  doc.doc->getDocumentSize(&w, &h);
  out.U32(id);
  out.I32(doc.doc->getDocumentType());
  out.I64(w);
  out.I64(h);
  out.I32(doc.doc->getParts());
}

void Paint(Reader& in, Writer& out) {
  int pw = in.I32(), ph = in.I32();
  int x = in.I32(), y = in.I32(), w = in.I32(), h = in.I32();
  if (pw <= 0 || ph <= 0 || pw > 8192 || ph > 8192 || w <= 0 || h <= 0)
    throw Failure("bad paint size");
  std::string pixels(static_cast<size_t>(pw) * ph * 4, '\0');
  Doc().paintTile(reinterpret_cast<unsigned char*>(pixels.data()), pw, ph, x, y, w, h);
  out.Str(pixels);
}

void Key(Reader& in, Writer&) {
  int type = in.I32(), ch = in.I32(), key = in.I32();
  Doc().postKeyEvent(type, ch, key);
  Settle();
}

// Text typed or committed by an input method: one key input per UTF-16 unit.
void Text(Reader& in, Writer&) {
  const std::string_view s = in.View();
  std::u16string u;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    int len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; len = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; len = 3; }
    else if ((c >> 3) == 30) { cp = c & 0x07; len = 4; }
    else { ++i; continue; }
    if (i + static_cast<size_t>(len) > s.size()) break;
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += static_cast<size_t>(len);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      u.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      u.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      u.push_back(static_cast<char16_t>(cp));
    }
  }
  for (char16_t c : u) {
    Doc().postKeyEvent(LOK_KEYEVENT_KEYINPUT, c, 0);
    Doc().postKeyEvent(LOK_KEYEVENT_KEYUP, c, 0);
  }
  Settle();
}

void Mouse(Reader& in, Writer&) {
  int type = in.I32(), x = in.I32(), y = in.I32(), count = in.I32(), buttons = in.I32(),
      mods = in.I32();
  Doc().postMouseEvent(type, x, y, count, buttons, mods);
  Settle();
}

void Uno(Reader& in, Writer& out) {
  std::string cmd = in.Str();
  std::string args = in.Str();
  Doc().postUnoCommand(cmd.c_str(), args.empty() ? nullptr : args.c_str(), true);
  bool ok = false;
  bool answered = WaitForCommandResult(*g_cur, cmd, 5000, &ok);
  Settle();
  out.U8(answered && ok ? 1 : 0);
}

void State(Reader& in, Writer& out) {
  std::string cmd = in.Str();
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_cur->states.find(cmd);
  out.Str(it == g_cur->states.end() ? "" : it->second);
}

void SaveAs(Reader& in, Writer&) {
  std::string path = in.Str(), format = in.Str(), filter = in.Str();
  Settle();
  if (!Doc().saveAs(FileUrl(path).c_str(), format.empty() ? nullptr : format.c_str(),
                    filter.empty() ? nullptr : filter.c_str()))
    throw Failure("the document could not be saved");
}

void DocSize(Reader&, Writer& out) {
  long w = 0, h = 0;
  Doc().getDocumentSize(&w, &h);
  out.I64(w);
  out.I64(h);
  char* rects = Doc().getPartPageRectangles();
  out.Str(rects ? rects : "");
  if (rects) free(rects);
}

void Values(Reader& in, Writer& out) {
  std::string cmd = in.Str();
  char* v = Doc().getCommandValues(cmd.c_str());
  out.Str(v ? v : "");
  if (v) free(v);
}

void Handle(const std::string& payload) {
  Reader in(payload);
  uint32_t id = in.U32();
  Op op = static_cast<Op>(in.U8());
  Writer out;
  try {
    // Every request but opening and the ping names its document first.
    if (op != Op::Open && op != Op::Ping) {
      uint32_t doc = in.U32();
      auto it = g_docs.find(doc);
      if (it == g_docs.end()) throw Failure("no such document");
      g_cur = it->second.get();
      if (op == Op::Close) {
        g_cur = nullptr;
        CloseDoc(doc);
      }
    }
    switch (op) {
      case Op::Open: Open(in, out); break;
      case Op::Close: break;
      case Op::Paint: Paint(in, out); break;
      case Op::Key: Key(in, out); break;
      case Op::Text: Text(in, out); break;
      case Op::Mouse: Mouse(in, out); break;
      case Op::Uno: Uno(in, out); break;
      case Op::State: State(in, out); break;
      case Op::SaveAs: SaveAs(in, out); break;
      case Op::DocSize: DocSize(in, out); break;
      case Op::Values: Values(in, out); break;
      case Op::Ping: break;
      default: throw Failure("unknown request");
    }
  } catch (const std::exception& e) {
    Writer err;
    err.U32(id);
    err.U8(dynamic_cast<const CannotStart*>(&e) ? 2 : 1);
    err.Str(e.what());
    if (!WriteAll(err.Frame())) _exit(0);
    return;
  }
  Writer head;
  head.U32(id);
  head.U8(0);
  std::string body = head.Payload() + out.Payload();
  Writer framed;
  framed.U32(static_cast<uint32_t>(body.size()));
  if (!WriteAll(framed.Payload() + body)) _exit(0);
}

// While a request runs, a sign of life goes to the control every second, so that it
// tells a slow request from a worker that hangs or is stopped (a stopped process sends
// nothing, from any thread).
std::atomic<bool> g_busy{false};

void SendSignsOfLife() {
  Writer alive;
  alive.U32(kAliveId);
  alive.U8(0);
  const std::string frame = alive.Frame();
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kAliveIntervalMs));
    if (g_busy.load() && !WriteAll(frame)) return;
  }
}

int RemoveEntry(const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }

std::string g_socketPath;
std::atomic<bool> g_ending{false};

// Removes the worker's own folder, the socket, and the socket's folder when that is left
// empty (the control gives the worker its private folder as TMPDIR), then ends. The end
// of input and SIGTERM come together when the control dies: one of them does it.
[[noreturn]] void CleanUpAndExit() {
  if (g_ending.exchange(true))
    for (;;) pause();
  alarm(2);  // should the removal hang
  if (!g_tmpDir.empty()) nftw(g_tmpDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  ::unlink(g_socketPath.c_str());
  const size_t slash = g_socketPath.rfind('/');
  if (slash != std::string::npos && slash > 0) ::rmdir(g_socketPath.substr(0, slash).c_str());
  _exit(0);
}

// At the end of input. Closing the suite cleanly can take seconds and may hang; our files
// are all saved.
[[noreturn]] void Quit() { CleanUpAndExit(); }

// The control's death (or anyone's SIGTERM) ends the worker wherever it is, even inside
// a hung call of the suite: a dead control cannot clean up.
void EndOnTerm() {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  int sig = 0;
  sigwait(&term, &sig);
  CleanUpAndExit();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: tarvo-office <socket path>\n");
    return 2;
  }
  // SIGTERM is taken by one thread only; the suite's threads, made later, inherit the mask.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  g_sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (strlen(argv[1]) >= sizeof(addr.sun_path)) return 2;
  strcpy(addr.sun_path, argv[1]);
  if (::connect(g_sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    perror("tarvo-office: connect");
    return 1;
  }
  g_socketPath = argv[1];
  MakeTmpDir(g_socketPath);
  std::thread ender(EndOnTerm);
  g_endThread = ender.native_handle();
  ender.detach();
  std::thread(SendSignsOfLife).detach();
  for (;;) {
    char len[4];
    if (!ReadAll(len, 4)) Quit();
    uint32_t n = FrameLength(len);
    if (n > kMaxFrame) Quit();
    std::string payload(n, '\0');
    if (!ReadAll(payload.data(), n)) Quit();
    g_busy = true;
    try {
      Handle(payload);
    } catch (const std::exception&) {
      Quit();  // a request we cannot even read: the peer is broken
    }
    g_busy = false;
  }
}
