// Reply reassembly over loopback: a large reply goes through the session form's own
// socket handling (length, 10240-byte chunks, progress) to its reply callback.
// Counters: peak_rss_growth is the rise of the peak resident size during one reply
// (reset through /proc/self/clear_refs before each), peak_over_reply its ratio to the
// reply size; the goal is under 2.
#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "control/session/frm_Main.h"
#include "core/ByteIO.h"
#include "tests/LoopbackListener.h"

namespace {

// Sends the same reply to every connection after reading its request.
class ReplyServer {
 public:
  explicit ReplyServer(std::string wire) : wire_(std::move(wire)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~ReplyServer() {
    stop_ = true;
    listener_.Shutdown();
    thread_.join();
  }
  uint16_t Port() const { return listener_.Port(); }

 private:
  void Serve() {
    while (!stop_) {
      const int c = listener_.Accept();
      if (c < 0) return;
      char header[9];
      if (ReadExactly(c, header, sizeof header)) {
        std::string frame(size_t(GetI32LE(header + 5)), '\0');
        ReadExactly(c, frame.data(), frame.size());
        SendAll(c, wire_);
      }
      close(c);
    }
  }

  std::string wire_;
  LoopbackListener listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string k = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(k, 0) == 0) return std::stol(line.substr(k.size()));
  return -1;
}

bool ResetPeakRss() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return bool(out);
}

void BM_ReplyReassembly(benchmark::State& state) {
  const size_t size = size_t(state.range(0));
  std::string wire;
  {
    ByteWriter w;
    w.Reserve(4 + size);
    w.I32(int32_t(size));
    w.Bytes("\x04STRM");
    w.Zeros(size - 5);
    wire = w.Take();
  }
  ReplyServer server(std::move(wire));
  TfrmMain form;
  form.SetServer("127.0.0.1", server.Port());
  size_t received = 0;
  bool done = false;
  form.OnReply = [&](TMemoryStream& reply) {
    received = size_t(reply.Size());
    done = true;
  };
  const std::string request = std::string("\x04LOGN", 5) + std::string(375, '\0');
  long worstGrowthKb = 0;
  bool peakKnown = true;
  for (auto _ : state) {
    done = false;
    received = 0;
    peakKnown = peakKnown && ResetPeakRss();
    const long before = StatusKb("VmRSS");
    form.SendToServer(request);
    QElapsedTimer guard;
    guard.start();
    while (!done && guard.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const long growth = StatusKb("VmHWM") - before;
    if (growth > worstGrowthKb) worstGrowthKb = growth;
    if (received != size) {
      state.SkipWithError("reply not reassembled");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
  if (peakKnown) {
    state.counters["peak_rss_growth_MiB"] = double(worstGrowthKb) / 1024.0;
    state.counters["peak_over_reply"] = double(worstGrowthKb) * 1024.0 / double(size);
  }
}
BENCHMARK(BM_ReplyReassembly)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

static void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& msg) {
  // The offscreen platform warns on every wait box shown; only real failures matter here.
  if (type >= QtCriticalMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
}

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietQt);
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
