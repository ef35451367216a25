// oa-server: the office-automation server on 127.0.0.1 for tests and demos.
//   oa-server [--port N] [--db FILE] [--log FILE] [--log-limit MIB] [--request-timeout MS]
//             [--idle-timeout MS] [--max-connections N] [--max-buffered MIB]
//   oa-server --db FILE --versions        lists the kept earlier versions
//   oa-server --db FILE --restore ID      puts one back
// Prints "listening PORT" once ready; SIGINT or SIGTERM stops it. The log holds one line
// per request; past --log-limit (16 MiB) it moves to FILE.1 and starts again. The
// database, its journal and the log are readable by their owner only.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <cstdio>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "apps/oa-server/OaServer.h"
#include "apps/oa-server/RequestLog.h"

namespace {

OaServer* g_server = nullptr;

void OnSignal(int) {
  if (g_server) g_server->Stop();
}

const char kUsage[] =
    "usage: oa-server [--port N] [--db FILE] [--log FILE] [--log-limit MIB]\n"
    "                 [--request-timeout MS] [--idle-timeout MS] [--max-connections N]\n"
    "                 [--max-buffered MIB]\n"
    "       oa-server --db FILE --versions      list the earlier versions of attachments,\n"
    "                                            Word bodies and workflows kept in FILE\n"
    "       oa-server --db FILE --restore ID    put version ID back (the one it replaces is kept)\n";

int Usage(const char* why) {
  std::fprintf(stderr, "oa-server: %s\n%s", why, kUsage);
  return 2;
}

int ListVersions(const OaDatabase& db) {
  std::printf("%-6s %-12s %-40s %-20s %s\n", "ID", "KIND", "OF", "REPLACED (UTC)", "BYTES");
  for (const OaDatabase::Version& v : db.Versions()) {
    const std::time_t t = std::time_t((v.at - 25569.0) * 86400.0);
    char when[32] = "?";
    std::tm tm{};
    if (gmtime_r(&t, &tm)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    std::printf("%-6lld %-12s %-40s %-20s %zu\n", static_cast<long long>(v.id), v.kind.c_str(),
                Cp936ToUtf8(v.key).c_str(), when, v.size);
  }
  return 0;
}

bool ParseInt(const char* text, long lo, long hi, long& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno || end == text || *end || v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  std::string dbPath = ":memory:";
  std::string logPath;
  uint64_t logLimit = RequestLogFile::kDefaultLimitBytes;
  bool listVersions = false;
  long restore = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--versions") {
      listVersions = true;
      continue;
    }
    if (i + 1 >= argc) return Usage(("missing value for " + arg).c_str());
    const char* value = argv[++i];
    long n = 0;
    if (arg == "--port") {
      if (!ParseInt(value, 0, 65535, n)) return Usage("--port needs 0..65535");
      options.port = static_cast<uint16_t>(n);
    } else if (arg == "--restore") {
      if (!ParseInt(value, 1, LONG_MAX, restore)) return Usage("--restore needs a version ID");
    } else if (arg == "--db") {
      dbPath = value;
    } else if (arg == "--log") {
      logPath = value;
    } else if (arg == "--log-limit") {
      if (!ParseInt(value, 1, 65536, n)) return Usage("--log-limit needs 1..65536 MiB");
      logLimit = static_cast<uint64_t>(n) * 1024 * 1024;
    } else if (arg == "--request-timeout") {
      if (!ParseInt(value, 1, 3600000, n)) return Usage("--request-timeout needs 1..3600000 ms");
      options.requestTimeoutMs = static_cast<int>(n);
    } else if (arg == "--max-connections") {
      if (!ParseInt(value, 1, 1000000, n)) return Usage("--max-connections needs 1..1000000");
      options.maxConnections = static_cast<size_t>(n);
    } else if (arg == "--max-buffered") {
      if (!ParseInt(value, 1, 65536, n)) return Usage("--max-buffered needs 1..65536 MiB");
      options.maxBufferedBytes = static_cast<size_t>(n) * 1024 * 1024;
    } else if (arg == "--idle-timeout") {
      if (!ParseInt(value, 1, 3600000, n)) return Usage("--idle-timeout needs 1..3600000 ms");
      options.idleTimeoutMs = static_cast<int>(n);
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }

  if ((listVersions || restore) && dbPath == ":memory:") return Usage("--versions and --restore need --db FILE");
  // They read a database that is there: a mistyped name must not make a fresh one.
  if ((listVersions || restore) && access(dbPath.c_str(), F_OK) != 0) {
    std::fprintf(stderr, "oa-server: no database %s: %s\n", dbPath.c_str(), std::strerror(errno));
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  // A full file system or file size limit fails the write, answered as such, instead of
  // ending the server.
  std::signal(SIGXFSZ, SIG_IGN);
  // Documents, their history and the request log are nobody else's to read.
  umask(077);
  for (const std::string* path : {&dbPath, &logPath})
    if (!path->empty() && *path != ":memory:") chmod(path->c_str(), 0600);
  // Room for many idle clients: one of them must never lock the others out.
  OaServer::RaiseFileLimit();
  try {
    OaDatabase db;
    db.Open(dbPath);
    if (listVersions) return ListVersions(db);
    if (restore) {
      oa::OaService(db).Restore(restore);
      std::printf("restored version %ld\n", restore);
      return 0;
    }
    std::unique_ptr<RequestLogFile> log;
    if (!logPath.empty()) log = std::make_unique<RequestLogFile>(logPath, logLimit);
    oa::OaService service(db);
    OaServer server(service, options);
    if (log)
      server.SetRequestLog([&log](const std::string& line) {
        if (!log) return;
        log->Write(line);
        if (log->Failed().empty()) return;
        std::fprintf(stderr, "oa-server: %s; no further requests are logged\n", log->Failed().c_str());
        log.reset();
      });
    server.SetDiagnostics([](const std::string& line) { std::fprintf(stderr, "oa-server: %s\n", line.c_str()); });
    server.Listen();
    g_server = &server;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::printf("listening %u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    server.Run();
    g_server = nullptr;
  } catch (const Exception& e) {
    std::fprintf(stderr, "oa-server: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
