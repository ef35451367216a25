#include "Supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <random>

#include "Proxy.h"
#include "ServerState.h"
#include "Session.h"
#include "apps/oa-server/DocxWriter.h"

#ifndef OA_SERVER_PATH
#error "OA_SERVER_PATH must name the oa-server binary"
#endif
#ifndef TARVO_OFFICE_PATH
#error "TARVO_OFFICE_PATH must name the office worker"
#endif
#ifndef TARVO_HOST_PATH
#error "TARVO_HOST_PATH must name tarvo-host"
#endif
#ifndef WALK_PLUGIN_PATH
#error "WALK_PLUGIN_PATH must name the folder of the walker plugin"
#endif

namespace walk {
namespace {

// A walk stopped by a signal takes its server and its session down with it. Each goes in
// a process group of its own: a walk run in the background is an orphaned group, which the
// kernel hangs up when one of its processes ends while another is stopped (a frozen server
// or office worker).
void DieWithParent(QProcess& p) {
  p.setChildProcessModifier([] {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    setpgid(0, 0);
  });
}

void Print(const std::string& s) {
  std::printf("%s\n", s.c_str());
  std::fflush(stdout);
}

// oa-server on one port for the whole walk, so the control finds it again after a restart.
class Server {
 public:
  explicit Server(std::string dir) : dir_(std::move(dir)) {}
  ~Server() { Stop(); }
  bool Start() {
    process_ = std::make_unique<QProcess>();
    DieWithParent(*process_);
    process_->setProgram(OA_SERVER_PATH);
    process_->setArguments({"--port", QString::number(port_), "--db", QString::fromStdString(Db()), "--log",
                            QString::fromStdString(dir_ + "/requests.log")});
    process_->setStandardErrorFile(QString::fromStdString(dir_ + "/server.err"), QIODevice::Append);
    process_->start();
    if (!process_->waitForStarted(5000)) return false;
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains('\n') && t.elapsed() < 15000 && process_->state() == QProcess::Running) {
      process_->waitForReadyRead(200);
      out += process_->readAllStandardOutput();
    }
    stopped_ = paused_ = false;
    if (!out.startsWith("listening ")) {
      std::fprintf(stderr, "oa-server did not say it listens: %s\n", out.constData());
      return false;
    }
    port_ = uint16_t(out.mid(10, out.indexOf('\n') - 10).toUInt());
    return port_ != 0;
  }
  void Stop() {
    NoteDeath();
    stopped_ = true;
    if (!process_ || process_->state() == QProcess::NotRunning) return;
    Resume();
    process_->terminate();
    if (!process_->waitForFinished(10000)) {
      process_->kill();
      process_->waitForFinished(3000);
      endedBadly_ = "did not stop in 10 s when asked";
    } else if (process_->exitStatus() == QProcess::CrashExit || process_->exitCode() != 0) {
      endedBadly_ = "ended with " + HowItEnded() + " when asked to stop";
    }
  }
  // Gone at once, as a machine that loses power: no chance to finish a reply.
  void Kill() {
    NoteDeath();
    stopped_ = true;
    if (!process_ || process_->state() == QProcess::NotRunning) return;
    process_->kill();
    process_->waitForFinished(5000);
  }
  // Frozen half-way: connections are taken and never answered.
  void Pause() {
    if (process_ && process_->state() == QProcess::Running && ::kill(pid_t(process_->processId()), SIGSTOP) == 0) paused_ = true;
  }
  void Resume() {
    if (paused_ && process_) ::kill(pid_t(process_->processId()), SIGCONT);
    paused_ = false;
  }
  // Gone without the walk stopping it: crashed.
  bool Died() const { return !stopped_ && process_ && process_->state() == QProcess::NotRunning; }
  // Asked to stop, it crashed, failed or lingered: taken once.
  std::string EndedBadly() { return std::exchange(endedBadly_, std::string()); }
  bool Stopped() const { return stopped_; }
  std::string HowItEnded() const {
    if (!process_) return "never started";
    return process_->exitStatus() == QProcess::CrashExit
               ? "signal " + std::to_string(process_->exitCode()) + " (" + strsignal(process_->exitCode()) + ")"
               : "exit code " + std::to_string(process_->exitCode());
  }
  uint16_t Port() const { return port_; }
  std::string Db() const { return dir_ + "/oa.sqlite"; }

 private:
  // Gone before the walk stops it: the death stays told.
  void NoteDeath() {
    if (Died() && endedBadly_.empty()) endedBadly_ = "died on its own (" + HowItEnded() + ") before the walk stopped it";
  }
  std::string dir_;
  std::unique_ptr<QProcess> process_;
  uint16_t port_ = 0;
  bool stopped_ = false, paused_ = false;
  std::string endedBadly_;
};

struct Visit {
  std::string user;
  std::vector<std::string> open;
  std::string flow;  // a workflow definition to open instead of a document
  std::string what;
  std::string mind;  // what the person came for, as SessionOptions::mind
};

const char* const kUsers[] = {"zhangsan", "lisi", "wangwu", "zhaoliu", "sunqi", "zhouba", "wujiu", "chener", "admin"};

// Who opens what: a new leave request or incoming letter by its rightful author, or one the
// server holds by its handlers or its author; now and then by anyone at all.
Visit ChooseVisit(std::mt19937_64& rng, const std::string& db) {
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  const std::vector<DocumentRef> docs = ListDocuments(db);
  const bool stranger = pick(100) < 20;
  Visit v;
  // Now and then someone edits one of the two workflows.
  if (pick(100) < 8) {
    v.user = stranger ? kUsers[pick(std::size(kUsers))] : "admin";
    v.flow = std::to_string(1 + pick(2));
    v.what = v.user + " edits workflow " + v.flow;
    return v;
  }
  // Now and then a handler comes for a document at the step that files it; where none is
  // there yet, the handler of the one furthest on its way sends it on.
  if (!docs.empty() && pick(100) < 15) {
    std::vector<const DocumentRef*> filing;
    const DocumentRef* furthest = nullptr;
    int furthestStep = 0;
    for (const DocumentRef& d : docs) {
      if (d.handlers.empty()) continue;
      const auto held = ReadDocument(db, Utf8ToCp936(d.recordId));
      if (!held) continue;
      if (held->atFilingStep) filing.push_back(&d);
      else if (held->currentStep > furthestStep) {
        furthest = &d;
        furthestStep = held->currentStep;
      }
    }
    const DocumentRef* d = !filing.empty() ? filing[pick(filing.size())] : furthest;
    if (d) {
      v.user = d->handlers[pick(d->handlers.size())];
      v.open = {"oa", d->recordId, "0", d->templateName, "1", "", ""};
      v.mind = filing.empty() ? "route" : "file";
      v.what = v.user + (filing.empty() ? " sends on " : " files ") + d->templateName + " " + d->recordId;
      return v;
    }
  }
  if (docs.empty() || pick(100) < 35) {
    const bool leave = pick(2) == 0;
    const char* templ = leave ? "请假单" : "收文登记单";
    v.user = stranger ? kUsers[pick(std::size(kUsers))] : leave ? kUsers[pick(4)] : "zhouba";
    v.open = {"oa", "", "0", templ, "1", "", ""};
    v.what = v.user + " writes a new " + templ;
    return v;
  }
  const DocumentRef& d = docs[pick(docs.size())];
  std::vector<std::string> rightful = d.handlers;
  if (!d.author.empty()) rightful.push_back(d.author);
  v.user = stranger || rightful.empty() ? kUsers[pick(std::size(kUsers))] : rightful[pick(rightful.size())];
  v.open = {"oa", d.recordId, "0", d.templateName, "1", "", ""};
  v.what = v.user + " opens " + d.templateName + " " + d.recordId;
  return v;
}

// A one-page PDF with a line of text, its cross-reference table counted out.
std::string SmallPdf() {
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length 41 >>\nstream\nBT /F1 18 Tf 20 100 Td (Walk paper) Tj ET\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> at;
  for (size_t i = 0; i < objects.size(); ++i) {
    at.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t a : at) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", a);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// Files a person may attach, one of each kind the system reads: plain text (ASCII and
// Chinese, and a name without an extension), a web page, pictures, a PDF, Word documents
// and a spreadsheet.
void PrepareFiles(const QString& dir) {
  QDir().mkpath(dir);
  auto write = [&](const char* name, const std::string& bytes) {
    QFile f(dir + "/" + name);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes.data(), qint64(bytes.size()));
  };
  write("note.txt", "A note from the walk.\nSecond line.\n");
  write("说明.txt", "请假说明：家中有事。\n");
  write("README", "Read me: a file without an extension.\n");
  write("page.htm", "<html><head><meta charset=\"utf-8\"><title>Walk</title></head>"
                    "<body><h1>Walk page</h1><p>正文 <b>bold</b></p><table border=1><tr><td>1</td><td>2</td></tr></table>"
                    "</body></html>\n");
  write("paper.pdf", SmallPdf());
  write("body.docx", BuildDocx({"Walk", "正文"}));
  write("letter.doc", BuildDocx({"Letter", "来函"}));  // the office engine reads it by its content
  write("table.xls",
        "<?xml version=\"1.0\"?>\n<?mso-application progid=\"Excel.Sheet\"?>\n"
        "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
        "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"Walk\"><Table>"
        "<Row><Cell><Data ss:Type=\"String\">walk</Data></Cell><Cell><Data ss:Type=\"Number\">42</Data></Cell></Row>"
        "</Table></Worksheet></Workbook>\n");
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  image.save(dir + "/scan.png", "PNG");
  image.fill(Qt::darkRed);
  if (!image.save(dir + "/photo.jpg", "JPG")) write("photo.jpg", "");
}

// The inputs as prepared: a session must leave them as they were.
std::map<std::string, QByteArray> Fingerprints(const QString& dir) {
  std::map<std::string, QByteArray> out;
  for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files)) {
    QFile file(f.filePath());
    if (file.open(QIODevice::ReadOnly)) out[f.fileName().toStdString()] = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
  }
  return out;
}

// The two pipes between the walk and the walker in a host: lines up, answers down. The
// walk's ends stay out of every child; the host's ends go to the host only.
struct Pipes {
  int sayRead = -1, sayWrite = -1, answerRead = -1, answerWrite = -1;
  bool Open() {
    int a[2], b[2];
    if (pipe2(a, O_CLOEXEC) != 0) return false;
    if (pipe2(b, O_CLOEXEC) != 0) {
      close(a[0]);
      close(a[1]);
      return false;
    }
    sayRead = a[0], sayWrite = a[1], answerRead = b[0], answerWrite = b[1];
    // Read after poll, and drained at the end without waiting on a writer left behind.
    fcntl(sayRead, F_SETFL, O_NONBLOCK);
    return true;
  }
  void CloseHostEnds() {
    if (sayWrite >= 0) close(sayWrite);
    if (answerRead >= 0) close(answerRead);
    sayWrite = answerRead = -1;
  }
  ~Pipes() {
    CloseHostEnds();
    if (sayRead >= 0) close(sayRead);
    if (answerWrite >= 0) close(answerWrite);
  }
};

// One host process with its walker: its pipes, what it said and how it ended.
struct Host {
  std::string tag;  // the session's number; "+" marks a second host on the same document
  Pipes pipes;
  QProcess process;
  std::string errPath;
  QByteArray pending;
  bool ended = false, eof = false, walking = false;
  int64_t leftAt = 0;  // when the person began to leave it ("end")
  std::unique_ptr<Proxy> proxy;  // between the host and the server, in some sessions
  std::string failure;
};

void Answer(int fd, const char* line) {
  const std::string l = std::string(line) + "\n";
  if (::write(fd, l.data(), l.size()) != ssize_t(l.size())) std::fprintf(stderr, "the walker did not take its answer\n");
}

// The last lines of a log, from byte `from` on.
std::string ServerErrors(const std::string& path, size_t from, size_t lines) {
  std::ifstream in(path);
  in.seekg(std::streamoff(from));
  std::deque<std::string> tail;
  for (std::string line; std::getline(in, line);) {
    tail.push_back("  | " + line);
    if (tail.size() > lines) tail.pop_front();
  }
  std::string out;
  for (const std::string& l : tail) out += l + "\n";
  return out;
}

// A sanitizer's report in what the server wrote since `seen`, which moves past it.
bool SanitizerReport(const std::string& path, size_t& seen, std::string& report) {
  std::ifstream in(path);
  in.seekg(0, std::ios::end);
  const size_t size = size_t(std::max<std::streamoff>(0, in.tellg()));
  if (size <= seen) return false;
  in.seekg(std::streamoff(seen));
  std::string chunk(size - seen, '\0');
  in.read(chunk.data(), std::streamsize(chunk.size()));
  seen = size;
  for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "WARNING: AddressSanitizer"})
    if (const size_t at = chunk.find(mark); at != std::string::npos) {
      report = chunk.substr(at > 200 ? at - 200 : 0, 6000);
      return true;
    }
  return false;
}

bool SanitizerReport(const std::string& path, std::string& report) {
  std::ifstream in(path);
  std::string line;
  bool found = false;
  std::deque<std::string> tail;
  while (std::getline(in, line)) {
    if (line.find("ERROR: AddressSanitizer") != std::string::npos || line.find("ERROR: LeakSanitizer") != std::string::npos ||
        line.find("runtime error:") != std::string::npos || line.find("WARNING: AddressSanitizer") != std::string::npos)
      found = true;
    tail.push_back(line);
    if (tail.size() > 80) tail.pop_front();
  }
  for (const std::string& l : tail) report += "  | " + l + "\n";
  return found;
}

// What the server said of a request it could not handle, in its output since `seen`
// (which moves past it): a request it dropped for any reason but the client's leaving or
// a time-out (the walk stops and freezes the server and its clients give up), or a log
// it could not write.
std::string ServerComplaint(const std::string& path, size_t& seen) {
  std::ifstream in(path);
  in.seekg(std::streamoff(seen));
  std::string complaint;
  for (std::string line; std::getline(in, line) && !in.eof();) {
    seen += line.size() + 1;
    if (!complaint.empty() || line.rfind("oa-server: ", 0) != 0) continue;
    if (line.find("closed by the client before the request was complete") != std::string::npos ||
        line.find("within the time-out") != std::string::npos)
      continue;
    complaint = line;
  }
  return complaint;
}

// LeakSanitizer stops the threads through a tracer of its own; when that fails it ends the
// program with 1 and checks nothing.
bool LeakCheckBroke(const std::string& errPath) {
  std::ifstream in(errPath);
  bool broke = false, other = false;
  for (std::string line; std::getline(in, line);) {
    broke = broke || line.find("LeakSanitizer has encountered a fatal error") != std::string::npos;
    other = other || line.find("ERROR: ") != std::string::npos;
  }
  return broke && !other;
}

// The first leak LeakSanitizer reported, with its stack: a direct one if any (what holds
// the rest), else the first of those only held in a cycle.
std::string FirstLeak(const std::string& path) {
  std::ifstream in(path);
  std::string direct, indirect, *into = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.find("Direct leak of") != std::string::npos && direct.empty()) into = &direct;
    else if (line.find("Indirect leak of") != std::string::npos && indirect.empty()) into = &indirect;
    else if (line.empty() || line.find(" leak of ") != std::string::npos) into = nullptr;
    if (into) *into += (into->empty() ? "" : "\n") + line;
  }
  return direct.empty() ? indirect : direct;
}

// A trace as the walk writes it: its seed, then each session's actions in order.
bool ReadTrace(const std::string& path, uint64_t& seed, std::vector<std::vector<std::string>>& sessions) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line) || line.rfind("walk seed ", 0) != 0) return false;
  seed = std::strtoull(line.c_str() + 10, nullptr, 10);
  while (std::getline(in, line)) {
    if (line.rfind("session ", 0) == 0) {
      sessions.emplace_back();
      continue;
    }
    // "  [k] N what": the action numbers count from one in each session.
    const size_t close = line.find("] ");
    if (sessions.empty() || line.rfind("  [", 0) != 0 || close == std::string::npos || line[close - 1] == '+') continue;
    const std::string rest = line.substr(close + 2);
    if (!rest.empty() && std::isdigit(static_cast<unsigned char>(rest[0]))) sessions.back().push_back(rest);
  }
  return !sessions.empty();
}

}  // namespace

int RunWalk(int& argc, char** argv, const WalkOptions& o) {
  QCoreApplication app(argc, argv);
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    std::fprintf(stderr, "the walk needs an X display: run it under xvfb-run\n");
    return 2;
  }
  // A replay takes its seed and its sessions from the trace it follows.
  std::vector<std::vector<std::string>> recorded;
  uint64_t replaySeed = 0;
  if (!o.replay.empty() && o.trace == o.replay) {
    std::fprintf(stderr, "the replay would write its trace over the one it follows\n");
    return 2;
  }
  if (!o.replay.empty() && !ReadTrace(o.replay, replaySeed, recorded)) {
    std::fprintf(stderr, "%s is no trace of a walk\n", o.replay.c_str());
    return 2;
  }
  const uint64_t seed = !o.replay.empty() ? replaySeed : o.seedGiven ? o.seed : std::random_device{}() % 1000000;
  const int sessionLimit = o.sessions ? o.sessions : int(recorded.size());
  std::mt19937_64 rng(seed);
  const std::string replay = "--seed " + std::to_string(seed);
  Print("walk seed " + std::to_string(seed));

  QTemporaryDir temp(QDir::tempPath() + "/tarvo-walk-XXXXXX");
  const std::string dir = temp.path().toStdString();
  const QString home = temp.path() + "/home";
  for (const char* sub : {"/home", "/config", "/cache", "/data", "/runtime", "/tmp"}) QDir().mkpath(temp.path() + sub);
  QFile::setPermissions(temp.path() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  Server server(dir);
  if (!server.Start()) {
    Print("walk failed: oa-server did not start");
    return 1;
  }
  OpenSignOffReplies(server.Db());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // Each session in a home of its own under the walk's folder, never the user's.
  env.insert("HOME", home);
  env.insert("XDG_CONFIG_HOME", temp.path() + "/config");
  env.insert("XDG_CACHE_HOME", temp.path() + "/cache");
  env.insert("XDG_DATA_HOME", temp.path() + "/data");
  env.insert("XDG_RUNTIME_DIR", temp.path() + "/runtime");
  env.insert("TMPDIR", temp.path() + "/tmp");
  env.insert("TARVO_REGISTRY", temp.path() + "/registry.ini");
  env.insert("TARVO_LOCALE_FILE", temp.path() + "/locale.ini");
  env.insert("TARVO_OFFICE_WORKER", TARVO_OFFICE_PATH);
  env.insert("QT_QPA_PLATFORM", "xcb");
  // The person comes with the host's application: Qt loads the walker as a plugin.
  env.insert("QT_PLUGIN_PATH", WALK_PLUGIN_PATH);
  env.insert("QT_QPA_GENERIC_PLUGINS", "tarvowalk");
  env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // A scanner on the desk: the SANE test backend's devices.
  env.insert("SANE_CONFIG_DIR", WALK_SANE_CONFIG);
  // The office engine's own mismatched deletes are not ours. A host ends as a closed page
  // does, so its leaks are read at its end (system libraries' known ones suppressed).
  // An abort (a failed assertion, a hang the watchdog breaks) prints its stack too.
  env.insert("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0:new_delete_type_mismatch=0:handle_abort=1");
  env.insert("LSAN_OPTIONS", "suppressions=" WALK_LSAN_SUPPRESSIONS ":print_suppressions=0");
  env.insert("UBSAN_OPTIONS", "print_stacktrace=1");

  QElapsedTimer clock;
  clock.start();
  const int64_t budgetMs = int64_t(o.minutes * 60000);
  const int64_t endAt = QDateTime::currentMSecsSinceEpoch() + budgetMs;
  std::deque<std::string> log;
  int actions = 0, sessions = 0, twoHosts = 0, saves = 0, judged = 0, flows = 0, contents = 0, checks = 0;
  int cuts = 0, holds = 0, cutsJudged = 0;  // replies the proxies cut or held back; cut ones a box told of
  int stayed = 0, keptChecks = 0;  // windows checked after backing out of a save question; records' kept files checked
  int signOffs = 0, bodies = 0, workflows = 0;  // sign-offs, Word texts and workflow saves compared
  std::map<std::string, int> opened;  // attachments opened, by kind
  std::map<std::string, int> reached;  // clicks on the rarer commands
  const std::string tracePath = o.trace.empty() ? dir + "/trace.txt" : o.trace;
  std::ofstream trace(tracePath);
  trace << "walk seed " << seed << "\n";
  bool wentAnotherWay = false;
  size_t serverErrSeen = 0;  // how much of server.err has been read
  size_t serverSaidSeen = 0;  // how much of it has been read for complaints
  std::string serverReport;
  std::string failure;
  int failedSession = -1;
  std::vector<std::string> findings;

  for (int k = 0; failure.empty(); ++k) {
    if (sessionLimit ? k >= sessionLimit : clock.elapsed() >= budgetMs) break;
    // Afresh for each session: a person may have printed over them.
    PrepareFiles(home + "/files");
    const Visit visit = ChooseVisit(rng, server.Db());
    const uint64_t sessionSeed = rng();
    const int sessionActions = 30 + int(rng() % 90);
    const auto inputs = Fingerprints(home + "/files");
    if (!visit.flow.empty()) ++flows;
    log.push_back("session " + std::to_string(k) + ": " + visit.what);
    trace << log.back() << "\n";
    if (o.verbose) Print(log.back());
    ++sessions;
    std::string open;
    for (const std::string& a : visit.open) open += (open.empty() ? "" : ",") + a;
    // Now and then a second host works on the same document at once: another user, or the
    // same one in a second window.
    std::vector<std::pair<std::string, SessionOptions>> starts;
    SessionOptions so;
    so.seed = sessionSeed;
    so.db = server.Db();
    so.actions = sessionActions;
    so.untilMs = sessionLimit ? endAt + 3600000 : endAt;
    so.files = (home + "/files").toStdString();
    so.hangSeconds = o.hangSeconds;
    so.opensNew = visit.flow.empty() && visit.open[1].empty();
    so.mind = visit.mind;
    // Two who may both add files: the author of a leave form still at its first step, whose
    // 附件 opens the file manager (not a Word body), twice. Where there is one, it is what
    // two at one document mostly are; an author about to write a new one now and then goes
    // to it instead.
    std::vector<DocumentRef> fit;
    if (visit.flow.empty())
      for (const DocumentRef& d : ListDocuments(server.Db()))
        if (d.templateName == "请假单" && !d.author.empty())
          if (const auto held = ReadDocument(server.Db(), Utf8ToCp936(d.recordId)); held && held->currentStep == 1)
            fit.push_back(d);
    const int shareChance = !visit.flow.empty() || !visit.mind.empty() ? 0 : so.opensNew ? (fit.empty() ? 0 : 25) : fit.empty() ? 20 : 45;
    const bool share = rng() % 100 < uint64_t(shareChance);
    const bool atFit = share && !fit.empty() && (so.opensNew || rng() % 100 < 80);
    std::string user = visit.user;
    if (atFit) {
      const DocumentRef& d = fit[rng() % fit.size()];
      open = "oa," + d.recordId + ",0," + d.templateName + ",1,,";
      user = d.author;
      so.opensNew = false;
    }
    starts.push_back({user, so});
    if (share) {
      SessionOptions second = so;
      second.seed = rng();
      second.actions = 30 + int(rng() % 90);
      second.shared = starts.front().second.shared = true;
      starts.push_back({atFit || rng() % 2 ? user : kUsers[rng() % std::size(kUsers)], second});
      ++twoHosts;
      ++sessions;
    }
    std::vector<std::unique_ptr<Host>> hosts;
    for (auto& [user, options] : starts) {
      auto h = std::make_unique<Host>();
      h->tag = std::to_string(k) + (hosts.empty() ? "" : "+");
      log.push_back("  [" + h->tag + "] the host logs in as " + user + " and opens " +
                    (visit.flow.empty() ? open : "workflow " + visit.flow));
      trace << log.back() << "\n";
      if (!h->pipes.Open()) {
        failure = "no pipes for the session";
        break;
      }
      options.sayFd = h->pipes.sayWrite;
      options.answerFd = h->pipes.answerRead;
      QProcessEnvironment childEnv = env;
      for (const auto& [name, value] : SessionEnvironment(options))
        childEnv.insert(QString::fromStdString(name), QString::fromStdString(value));
      QProcess& child = h->process;
      child.setProcessEnvironment(childEnv);
      child.setWorkingDirectory(home);  // where file dialogs start, and folders get made
      const int sayFd = h->pipes.sayWrite, answerFd = h->pipes.answerRead;
      // As the server: its own group, with the office worker it starts.
      child.setChildProcessModifier([sayFd, answerFd] {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        setpgid(0, 0);
        fcntl(sayFd, F_SETFD, 0);
        fcntl(answerFd, F_SETFD, 0);
      });
      child.setProgram(TARVO_HOST_PATH);
      // Some sessions reach the server through a proxy that cuts or holds back replies.
      uint16_t port = server.Port();
      if ((options.seed >> 20) % 100 < 30) {
        h->proxy = std::make_unique<Proxy>(server.Port(), options.seed, 15, 10);
        if (!h->proxy->Start()) {
          failure = "the proxy could not listen";
          break;
        }
        port = h->proxy->Port();
        log.push_back("  [" + h->tag + "] through a proxy that cuts replies");
        trace << log.back() << "\n";
      }
      child.setArguments({"--server", "127.0.0.1:" + QString::number(port), "--login",
                          QString::fromStdString(user), visit.flow.empty() ? "--open" : "--flow",
                          QString::fromStdString(visit.flow.empty() ? open : visit.flow)});
      const std::string name = "session-" + std::to_string(k) + (hosts.empty() ? "" : "b");
      h->errPath = dir + "/" + name + ".err";
      child.setStandardErrorFile(QString::fromStdString(h->errPath));
      child.setStandardOutputFile(QString::fromStdString(dir + "/" + name + ".out"));
      child.start();
      if (!child.waitForStarted(10000)) {
        failure = "the host could not start: " + child.errorString().toStdString();
        break;
      }
      h->pipes.CloseHostEnds();
      hosts.push_back(std::move(h));
    }
    if (!failure.empty()) {
      Print("walk failed: " + failure);
      failedSession = k;
      break;
    }
    QElapsedTimer sessionClock;
    sessionClock.start();
    const int64_t sessionLimitMs = int64_t(sessionActions) * 4000 + 120000;
    const std::string mainTag = std::to_string(k);
    // Files each person saw the server keep, by record: name and content.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> kept;
    std::map<std::string, std::set<std::string>> edited;  // record -> names opened for editing
    bool removed = false;  // someone removed files: what was kept may rightly be gone
    auto hear = [&](Host& h, std::string line) {
      // The walk's folder has another name each time: a trace names it by its part.
      for (size_t at; (at = line.find(dir)) != std::string::npos;) line.replace(at, dir.size(), "<walk>");
      if (line.rfind("act ", 0) == 0) {
        ++actions;
        log.push_back("  [" + h.tag + "] " + line.substr(4));
        trace << log.back() << "\n";
        if (const size_t at = line.find(") in "); line.find(" open attachment ") != std::string::npos && at != std::string::npos) {
          const size_t from = line.rfind(" (", at);
          if (from != std::string::npos) ++opened[line.substr(from + 2, at - from - 2)];
        }
        for (const char* command : {"编号", "分发", "归档", "销毁审批", "审批意见合成", "收回分发文件", "扫描文件"})
          if (line.find(std::string("\"") + command) != std::string::npos || line.find(std::string("< ") + command) != std::string::npos)
            ++reached[command];
        // A replay says where it first leaves the trace it follows.
        const size_t n = std::strtoul(line.c_str() + 4, nullptr, 10);
        if (h.tag == mainTag && !recorded.empty() && !wentAnotherWay && size_t(k) < recorded.size()) {
          const std::vector<std::string>& was = recorded[size_t(k)];
          const std::string before = n >= 1 && n <= was.size() ? was[n - 1] : std::string("nothing");
          if (before != line.substr(4)) {
            wentAnotherWay = true;
            Print("the replay went another way at session " + std::to_string(k) + ", action " + std::to_string(n) +
                  ":\n  recorded: " + before + "\n  now:      " + line.substr(4));
          }
        }
        if (o.verbose) Print(log.back());
        if (log.size() > 400) log.pop_front();
      } else if (line == "ask server-stop") {
        server.Stop();
        Answer(h.pipes.answerWrite, "ok");
      } else if (line == "ask server-start") {
        if (!server.Stopped()) server.Resume();
        else if (!server.Start()) h.failure = "oa-server did not start again";
        Answer(h.pipes.answerWrite, "ok");
      } else if (line == "ask server-kill") {
        server.Kill();
        Answer(h.pipes.answerWrite, "ok");
      } else if (line == "ask server-pause") {
        server.Pause();
        Answer(h.pipes.answerWrite, "ok");
      } else if (line.rfind("end ", 0) == 0) {
        h.leftAt = QDateTime::currentMSecsSinceEpoch();
      } else if (line.rfind("fail ", 0) == 0) {
        h.failure += (h.failure.empty() ? "" : "\n") + line.substr(5);
      } else if (line.rfind("note ", 0) == 0) {
        h.walking = true;
        if (line.find("the walk says") != std::string::npos) ++saves;
        if (line.rfind("note judged ", 0) == 0) {
          ++judged;
          // "note judged WHAT: it ended with a popup (request from MS)": a reply the proxy
          // cut cannot have told of success.
          const size_t from = line.rfind("(request from ");
          std::string how;
          if (h.proxy && from != std::string::npos && h.proxy->CutFrom(std::strtoll(line.c_str() + from + 14, nullptr, 10), &how)) {
            if (line.find(": it ended with a popup") != std::string::npos)
              h.failure += (h.failure.empty() ? "" : "\n") + std::string("a cut reply was taken as success: ") +
                           line.substr(12, from - 13) + "; " + how;
            else
              ++cutsJudged;
          }
        }
        if (line.rfind("note compared ", 0) == 0) contents += std::atoi(line.c_str() + 14);
        if (line.rfind("note compared a sign-off ", 0) == 0) ++signOffs;
        if (line.rfind("note compared the Word text ", 0) == 0) ++bodies;
        if (line.rfind("note compared workflow ", 0) == 0) ++workflows;
        if (line.rfind("note checked ", 0) == 0) ++stayed;
        if (line.rfind("note removes files ", 0) == 0) removed = true;
        if (line.rfind("note edits ", 0) == 0) {
          // "note edits RECORD NAME"
          const size_t a = 11, b = line.find(' ', a);
          if (b != std::string::npos) edited[line.substr(a, b - a)].insert(line.substr(b + 1));
        }
        if (line.rfind("note kept ", 0) == 0) {
          // "note kept RECORD SHA256 NAME"
          const size_t a = 10, b = line.find(' ', a), c = b == std::string::npos ? b : line.find(' ', b + 1);
          if (c != std::string::npos) kept[line.substr(a, b - a)].emplace_back(line.substr(c + 1), line.substr(b + 1, c - b - 1));
        }
        log.push_back("  [" + h.tag + "] " + line.substr(5));
        if (o.verbose) Print(log.back());
      }
    };
    // What the proxies did goes into the trace beside the actions.
    auto proxyNotes = [&] {
      for (auto& h : hosts)
        if (h->proxy)
          for (const std::string& n : h->proxy->TakeNotes()) {
            log.push_back("  [" + h->tag + "] " + n);
            trace << log.back() << "\n";
            if (o.verbose) Print(log.back());
          }
    };
    for (bool all = false; !all;) {
      proxyNotes();
      std::vector<pollfd> fds;
      for (auto& h : hosts)
        if (!h->eof) fds.push_back({h->pipes.sayRead, POLLIN, 0});
      if (fds.empty()) QThread::msleep(100);
      else poll(fds.data(), fds.size(), 100);
      all = true;
      for (auto& hp : hosts) {
        Host& h = *hp;
        if (h.ended) continue;
        if (!h.eof) {
          char buf[4096];
          const ssize_t n = read(h.pipes.sayRead, buf, sizeof buf);
          if (n > 0)
            h.pending.append(buf, n);
          else if (n == 0 || errno != EAGAIN)
            h.eof = true;
        }
        for (int nl; (nl = h.pending.indexOf('\n')) >= 0;) {
          const std::string line = h.pending.left(nl).toStdString();
          h.pending.remove(0, nl + 1);
          hear(h, line);
        }
        // The pipe closes with the host; a host that is gone and left it open ends too.
        if (h.eof ? h.process.waitForFinished(10000) : h.process.waitForFinished(0)) h.ended = true;
        if (h.eof && !h.ended) {
          h.failure = "the host closed its pipe and did not end";
          h.process.kill();
          h.process.waitForFinished(5000);
          h.ended = true;
        }
        // A host that never says a word has no walker in it: no use waiting out the session.
        if (!h.ended && !h.walking && sessionClock.elapsed() > 90000) {
          h.failure = "the walker did not start in the host in 90 s";
          h.process.kill();
          h.process.waitForFinished(5000);
          h.ended = true;
        }
        if (!h.ended && sessionClock.elapsed() > sessionLimitMs) {
          h.failure = "the session did not end in " + std::to_string(sessionLimitMs / 1000) + " s";
          h.process.kill();
          h.process.waitForFinished(5000);
          h.ended = true;
        }
        // Closing its windows takes the walker at most 30 s; what is left is the host's end.
        if (!h.ended && h.leftAt && QDateTime::currentMSecsSinceEpoch() - h.leftAt > 75000) {
          h.failure = "hang: the host did not end in 75 s after the person began to close its windows (its stack below)";
          ::kill(pid_t(h.process.processId()), SIGABRT);
          if (!h.process.waitForFinished(15000)) h.process.kill();
          h.process.waitForFinished(5000);
          h.ended = true;
        }
        all = all && h.ended;
      }
    }
    proxyNotes();
    for (auto& h : hosts)
      if (h->proxy) {
        cuts += h->proxy->Cuts();
        holds += h->proxy->Holds();
        h->proxy.reset();
      }
    std::string report;
    for (auto& hp : hosts) {
      Host& h = *hp;
      if (!h.eof) {
        // What the host said last, up to its end.
        char buf[4096];
        for (ssize_t n; (n = read(h.pipes.sayRead, buf, sizeof buf)) > 0;) h.pending.append(buf, n);
        for (const QByteArray& l : h.pending.split('\n'))
          if (l.startsWith("fail ")) h.failure += (h.failure.empty() ? "" : "\n") + l.mid(5).toStdString();
      }
      if (h.failure.empty() && !h.walking)
        h.failure = "the walker did not start in the host (QT_QPA_GENERIC_PLUGINS=tarvowalk from " WALK_PLUGIN_PATH ")";
      std::string said;
      const bool sanitizer = SanitizerReport(h.errPath, said);
      if (const std::string leak = FirstLeak(h.errPath); h.failure.empty() && !leak.empty())
        h.failure = "the host leaked at its end:\n" + leak;
      if (h.failure.empty() && sanitizer) h.failure = "a sanitizer reported (below)";
      if (h.failure.empty() && h.process.exitStatus() == QProcess::CrashExit)
        h.failure = "the host crashed with signal " + std::to_string(h.process.exitCode()) + " (" +
                    strsignal(h.process.exitCode()) + ")" + (said.empty() ? ", saying nothing" : "; its last output below");
      if (h.failure.empty() && h.process.exitCode() != 0 && LeakCheckBroke(h.errPath)) {
        // The sanitizer's own thread-stopping tracer died: no leak was found or missed by the
        // host, so this is told, not failed.
        log.push_back("  [" + h.tag + "] the leak check could not run at the host's end (LeakSanitizer's tracer failed)");
        trace << log.back() << "\n";
        Print(log.back());
      } else if (h.failure.empty() && h.process.exitCode() != 0) {
        h.failure = "the host ended with " + std::to_string(h.process.exitCode());
      }
      if (!h.failure.empty() || hosts.size() == 1) {
        report += (hosts.size() > 1 ? "[" + h.tag + "] " + h.errPath + "\n" : "") + said;
        if (!h.failure.empty()) failure += (failure.empty() ? "" : "\n") + (hosts.size() > 1 ? "[" + h.tag + "] " : "") + h.failure;
      }
    }
    if (const std::string bad = server.EndedBadly(); failure.empty() && !bad.empty())
      failure = "oa-server " + bad + "; its output:\n" + ServerErrors(dir + "/server.err", 0, 40);
    if (failure.empty() && server.Died())
      failure = "oa-server died on its own (" + server.HowItEnded() + "); its output:\n" + ServerErrors(dir + "/server.err", 0, 40);
    if (failure.empty() && SanitizerReport(dir + "/server.err", serverErrSeen, serverReport))
      failure = "oa-server's sanitizer reported:\n" + serverReport;
    if (const std::string said = ServerComplaint(dir + "/server.err", serverSaidSeen); failure.empty() && !said.empty())
      failure = "oa-server could not handle a request: " + said;
    server.Resume();
    // Whoever saved files after another person, in a second window or a second host, added
    // to theirs: every file a person saw kept is still there, unless someone removed files.
    if (failure.empty() && !removed)
      for (const auto& [record, files] : kept) {
        std::vector<StoredFile> held = ReadAttachmentFiles(server.Db(), Utf8ToCp936(record));
        std::string lost;
        for (const auto& [name, sha] : files) {
          // A file the person opened from the manager may have been saved back changed.
          const bool mayDiffer = edited[record].count(name) > 0;
          const auto it = std::find_if(held.begin(), held.end(), [&](const StoredFile& f) {
            const std::string n = Cp936ToUtf8(f.name);
            return (mayDiffer || f.sha256 == sha) && (n == name || n.ends_with("/" + name) || n.ends_with("\\" + name));
          });
          if (it == held.end()) lost += "\n  " + name + " (sha256 " + sha.substr(0, 12) + ")";
          else held.erase(it);
        }
        ++keptChecks;
        if (!lost.empty())
          failure = "files a person saw the server keep for " + record + " are gone by the end of the session" +
                    (hosts.size() > 1 ? " (two hosts on the document)" : "") + ":" + lost;
      }
    if (failure.empty()) {
      ++checks;
      for (const std::string& problem : ConsistencyProblems(server.Db()))
        failure += (failure.empty() ? "the server's database is inconsistent after the session:" : "") + ("\n  " + problem);
    }
    if (failure.empty() && Fingerprints(home + "/files") != inputs)
      failure = "the walk's own input files were written over in the session (its file dialogs must save elsewhere)";
    if (!failure.empty()) {
      failedSession = k;
      findings.push_back("session " + std::to_string(k) + " (" + std::to_string(sessions) + " sessions, " +
                         std::to_string(actions) + " actions in): " + failure.substr(0, failure.find('\n')));
      Print("walk failed: " + failure);
      Print("seed " + std::to_string(seed) + ", session " + std::to_string(k) + "; the actions up to it:");
      for (const std::string& l : log) Print(l);
      Print("the host's last output:\n" + report);
      // What the failure left behind stays for a look: logs, the database, the files.
      temp.setAutoRemove(false);
      trace.flush();
      Print("the walk's folder (kept): " + dir);
      Print("its trace: " + tracePath + "  (replay: tarvo_walk --replay " + tracePath + ")");
    }
    if ((server.Died() || server.Stopped()) && (failure.empty() || o.keepGoing)) server.Start();
    if (!failure.empty() && o.keepGoing) {
      Print("replay: tarvo_walk " + replay + " --sessions " + std::to_string(k + 1));
      failure.clear();
    }
  }
  // The server's own end is checked too: it stops cleanly, with no leak or other report.
  server.Stop();
  if (std::string bad = server.EndedBadly(); failure.empty() && !bad.empty())
    findings.push_back("at the walk's end: oa-server " + bad + "\n" + ServerErrors(dir + "/server.err", 0, 40));
  if (failure.empty() && SanitizerReport(dir + "/server.err", serverErrSeen, serverReport))
    findings.push_back("at the walk's end: oa-server's sanitizer reported:\n" + serverReport);
  if (const std::string said = ServerComplaint(dir + "/server.err", serverSaidSeen); failure.empty() && !said.empty())
    findings.push_back("at the walk's end: oa-server could not handle a request: " + said);
  if (!findings.empty() && failure.empty()) temp.setAutoRemove(false);
  const double minutes = double(clock.elapsed()) / 60000.0;
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.1f", minutes > 0 ? actions / minutes : 0.0);
  Print(std::to_string(actions) + " actions in " + std::to_string(sessions) + " sessions (" + std::to_string(flows) +
        " in the workflow editor, " + std::to_string(2 * twoHosts) +
        " as two hosts at one document), " + std::to_string(saves) + " saves compared, " + std::to_string(judged) +
        " requests judged by how they ended, " +
        std::to_string(contents) + " attached files compared by content, " + std::to_string(keptChecks) +
        " records' kept files checked at a session's end, " + std::to_string(stayed) +
        " windows checked after backing out of a save question, " + std::to_string(checks) + " database checks, " +
        std::to_string(cuts) + " replies cut by a proxy (" + std::to_string(cutsJudged) + " of them to a send, told of by a box), " +
        std::to_string(holds) + " held back, " + rate +
        " actions a minute");
  Print("also compared: " + std::to_string(signOffs) + " sign-offs, " + std::to_string(bodies) + " Word bodies, " +
        std::to_string(workflows) + " workflow saves");
  std::string kinds;
  for (const auto& [kind, n] : opened) kinds += " " + (kind == "none" ? std::string("no extension") : kind) + " " + std::to_string(n);
  Print("attachments opened by kind:" + (kinds.empty() ? std::string(" none") : kinds));
  std::string commands;
  for (const auto& [command, n] : reached) commands += " " + command + " " + std::to_string(n);
  Print("commands clicked:" + (commands.empty() ? std::string(" none") : commands));
  for (const std::string& f : findings) Print("found at seed " + std::to_string(seed) + ", " + f);
  if (!findings.empty() && failure.empty()) return 1;
  if (!failure.empty()) {
    Print("walk failed at seed " + std::to_string(seed) + "; replay: tarvo_walk " + replay + " --sessions " +
          std::to_string(failedSession + 1) + "  (or ./run.sh walk " + replay + " --sessions " +
          std::to_string(failedSession + 1) + ")");
    return 1;
  }
  Print("walk passed, seed " + std::to_string(seed));
  return 0;
}

}  // namespace walk
