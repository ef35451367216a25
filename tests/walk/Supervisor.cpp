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
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <random>

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

// A walk stopped by a signal takes its server and its session down with it.
void DieWithParent(QProcess& p) {
  p.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
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
    if (!out.startsWith("listening ")) {
      std::fprintf(stderr, "oa-server did not say it listens: %s\n", out.constData());
      return false;
    }
    port_ = uint16_t(out.mid(10, out.indexOf('\n') - 10).toUInt());
    return port_ != 0;
  }
  void Stop() {
    if (!process_ || process_->state() == QProcess::NotRunning) return;
    process_->terminate();
    if (!process_->waitForFinished(10000)) {
      process_->kill();
      process_->waitForFinished(3000);
    }
  }
  // Gone without being stopped: crashed.
  bool Died() const { return process_ && process_->state() == QProcess::NotRunning; }
  uint16_t Port() const { return port_; }
  std::string Db() const { return dir_ + "/oa.sqlite"; }

 private:
  std::string dir_;
  std::unique_ptr<QProcess> process_;
  uint16_t port_ = 0;
};

struct Visit {
  std::string user;
  std::vector<std::string> open;
  std::string what;
};

const char* const kUsers[] = {"zhangsan", "lisi", "wangwu", "zhaoliu", "sunqi", "zhouba", "wujiu", "chener", "admin"};

// Who opens what: a new leave request or incoming letter by its rightful author, or one the
// server holds by its handlers or its author; now and then by anyone at all.
Visit ChooseVisit(std::mt19937_64& rng, const std::string& db) {
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  const std::vector<DocumentRef> docs = ListDocuments(db);
  const bool stranger = pick(100) < 20;
  Visit v;
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

// Files a person may attach: plain text (ASCII and Chinese), a picture, a Word document.
void PrepareFiles(const QString& dir) {
  QDir().mkpath(dir);
  auto write = [&](const char* name, const std::string& bytes) {
    QFile f(dir + "/" + name);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes.data(), qint64(bytes.size()));
  };
  write("note.txt", "A note from the walk.\nSecond line.\n");
  write("说明.txt", "请假说明：家中有事。\n");
  write("body.docx", BuildDocx({"Walk", "正文"}));
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  image.save(dir + "/scan.png", "PNG");
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

void Answer(int fd, const char* line) {
  const std::string l = std::string(line) + "\n";
  if (::write(fd, l.data(), l.size()) != ssize_t(l.size())) std::fprintf(stderr, "the walker did not take its answer\n");
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

}  // namespace

int RunWalk(int& argc, char** argv, const WalkOptions& o) {
  QCoreApplication app(argc, argv);
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    std::fprintf(stderr, "the walk needs an X display: run it under xvfb-run\n");
    return 2;
  }
  const uint64_t seed = o.seedGiven ? o.seed : std::random_device{}() % 1000000;
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
  // The office engine's own mismatched deletes are not ours; leaks are not looked for,
  // as a session ends the way a killed page does.
  env.insert("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=0:new_delete_type_mismatch=0");
  env.insert("UBSAN_OPTIONS", "print_stacktrace=1");

  QElapsedTimer clock;
  clock.start();
  const int64_t budgetMs = int64_t(o.minutes * 60000);
  const int64_t endAt = QDateTime::currentMSecsSinceEpoch() + budgetMs;
  std::deque<std::string> log;
  int actions = 0, sessions = 0, saves = 0;
  std::string failure;
  int failedSession = -1;
  std::vector<std::string> findings;

  for (int k = 0; failure.empty(); ++k) {
    if (o.sessions ? k >= o.sessions : clock.elapsed() >= budgetMs) break;
    // Afresh for each session: a person may have printed over them.
    PrepareFiles(home + "/files");
    const Visit visit = ChooseVisit(rng, server.Db());
    const uint64_t sessionSeed = rng();
    const int sessionActions = 30 + int(rng() % 90);
    log.push_back("session " + std::to_string(k) + ": " + visit.what);
    if (o.verbose) Print(log.back());
    ++sessions;
    std::string open;
    for (const std::string& a : visit.open) open += (open.empty() ? "" : ",") + a;
    log.push_back("  [" + std::to_string(k) + "] the host logs in as " + visit.user + " and opens " + open);
    Pipes pipes;
    if (!pipes.Open()) {
      failure = "no pipes for the session";
      failedSession = k;
      break;
    }
    SessionOptions so;
    so.seed = sessionSeed;
    so.db = server.Db();
    so.actions = sessionActions;
    so.untilMs = o.sessions ? endAt + 3600000 : endAt;
    so.files = (home + "/files").toStdString();
    so.hangSeconds = o.hangSeconds;
    so.opensNew = visit.open[1].empty();
    so.sayFd = pipes.sayWrite;
    so.answerFd = pipes.answerRead;
    QProcessEnvironment childEnv = env;
    for (const auto& [name, value] : SessionEnvironment(so))
      childEnv.insert(QString::fromStdString(name), QString::fromStdString(value));
    QProcess child;
    child.setProcessEnvironment(childEnv);
    child.setWorkingDirectory(home);  // where file dialogs start, and folders get made
    const int sayFd = pipes.sayWrite, answerFd = pipes.answerRead;
    child.setChildProcessModifier([sayFd, answerFd] {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      fcntl(sayFd, F_SETFD, 0);
      fcntl(answerFd, F_SETFD, 0);
    });
    child.setProgram(TARVO_HOST_PATH);
    child.setArguments({"--server", "127.0.0.1:" + QString::number(server.Port()), "--login",
                        QString::fromStdString(visit.user), "--open", QString::fromStdString(open)});
    const std::string errPath = dir + "/session-" + std::to_string(k) + ".err";
    child.setStandardErrorFile(QString::fromStdString(errPath));
    child.setStandardOutputFile(QString::fromStdString(dir + "/session-" + std::to_string(k) + ".out"));
    child.start();
    if (!child.waitForStarted(10000)) {
      failure = "the host could not start: " + child.errorString().toStdString();
      Print("walk failed: " + failure);
      failedSession = k;
      break;
    }
    pipes.CloseHostEnds();
    QElapsedTimer sessionClock;
    sessionClock.start();
    const int64_t sessionLimitMs = int64_t(sessionActions) * 4000 + 120000;
    QByteArray pending;
    bool ended = false, eof = false, walking = false;
    while (!ended) {
      if (!eof) {
        pollfd p{pipes.sayRead, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
          char buf[4096];
          const ssize_t n = read(pipes.sayRead, buf, sizeof buf);
          if (n > 0)
            pending.append(buf, n);
          else if (n == 0 || errno != EAGAIN)
            eof = true;
        }
      }
      for (int nl; (nl = pending.indexOf('\n')) >= 0;) {
        const std::string line = pending.left(nl).toStdString();
        pending.remove(0, nl + 1);
        if (line.rfind("act ", 0) == 0) {
          ++actions;
          log.push_back("  [" + std::to_string(k) + "] " + line.substr(4));
          if (o.verbose) Print(log.back());
          if (log.size() > 400) log.pop_front();
        } else if (line == "ask server-stop") {
          server.Stop();
          Answer(pipes.answerWrite, "ok");
        } else if (line == "ask server-start") {
          if (!server.Start()) failure = "oa-server did not start again";
          Answer(pipes.answerWrite, "ok");
        } else if (line.rfind("fail ", 0) == 0) {
          failure += (failure.empty() ? "" : "\n") + line.substr(5);
        } else if (line.rfind("note ", 0) == 0) {
          walking = true;
          if (line.find("the walk says") != std::string::npos) ++saves;
          log.push_back("  [" + std::to_string(k) + "] " + line.substr(5));
          if (o.verbose) Print(log.back());
        }
      }
      // The pipe closes with the host; a host that is gone and left it open ends too.
      if (eof ? child.waitForFinished(10000) : child.waitForFinished(0)) ended = true;
      if (eof && !ended) {
        failure = "the host closed its pipe and did not end";
        child.kill();
        child.waitForFinished(5000);
        ended = true;
      }
      if (!ended && sessionClock.elapsed() > sessionLimitMs) {
        failure = "the session did not end in " + std::to_string(sessionLimitMs / 1000) + " s";
        child.kill();
        child.waitForFinished(5000);
        ended = true;
      }
    }
    if (!eof) {
      // What the host said last, up to its end.
      char buf[4096];
      for (ssize_t n; (n = read(pipes.sayRead, buf, sizeof buf)) > 0;) pending.append(buf, n);
      for (const QByteArray& l : pending.split('\n'))
        if (l.startsWith("fail ")) failure += (failure.empty() ? "" : "\n") + l.mid(5).toStdString();
    }
    if (failure.empty() && !walking)
      failure = "the walker did not start in the host (QT_QPA_GENERIC_PLUGINS=tarvowalk from " WALK_PLUGIN_PATH ")";
    std::string report;
    const bool sanitizer = SanitizerReport(errPath, report);
    if (failure.empty() && sanitizer) failure = "a sanitizer reported (below)";
    if (failure.empty() && child.exitStatus() == QProcess::CrashExit) failure = "the host crashed";
    if (failure.empty() && child.exitCode() != 0) failure = "the host ended with " + std::to_string(child.exitCode());
    if (failure.empty() && server.Died() && !server.Start()) failure = "oa-server died";
    if (!failure.empty()) {
      failedSession = k;
      findings.push_back("session " + std::to_string(k) + ": " + failure.substr(0, failure.find('\n')));
      Print("walk failed: " + failure);
      Print("seed " + std::to_string(seed) + ", session " + std::to_string(k) + "; the actions up to it:");
      for (const std::string& l : log) Print(l);
      Print("the host's last output:\n" + report);
      // What the failure left behind stays for a look: logs, the database, the files.
      temp.setAutoRemove(false);
      Print("the walk's folder (kept): " + dir);
    }
    if (server.Died() && (failure.empty() || o.keepGoing)) server.Start();
    if (!failure.empty() && o.keepGoing) {
      Print("replay: tarvo_walk " + replay + " --sessions " + std::to_string(k + 1));
      failure.clear();
    }
  }
  const double minutes = double(clock.elapsed()) / 60000.0;
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.1f", minutes > 0 ? actions / minutes : 0.0);
  Print(std::to_string(actions) + " actions in " + std::to_string(sessions) + " sessions, " +
        std::to_string(saves) + " saves compared, " + rate + " actions a minute");
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
