// The office worker as a person meets it: starting it, up to the first document's first
// painted screen, opening a 20-page document up to its first painted screen (with the
// worker already running), and typing into it, each keystroke measured until the view
// shows it again.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>

#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "bench-office";
  static char* argv[] = {name, nullptr};
  // The benchmark paints into images; it needs no screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef TARVO_OFFICE_WORKER_PATH
  // Another worker may be named to compare with.
  if (qEnvironmentVariableIsEmpty("TARVO_OFFICE_WORKER")) qputenv("TARVO_OFFICE_WORKER", TARVO_OFFICE_WORKER_PATH);
#endif
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The view as the worker paints it now: painting does not wait, so wait for the frame.
void ShowCurrent(TOfficeContainer& c) {
  c.grab();
  while (!c.FrameCurrent()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  benchmark::DoNotOptimize(c.grab());
}

std::string Dir() {
  QString d = QDir::tempPath() + "/bench-office";
  QDir().mkpath(d);
  return d.toStdString();
}

std::string SmallDoc() {
  std::string html = Dir() + "/small.html";
  QFile f(QString::fromStdString(html));
  f.open(QIODevice::WriteOnly);
  f.write("<html><body><p>x</p></body></html>");
  return html;
}

// About twenty pages of text, converted by the worker once.
const std::string& TwentyPages() {
  static std::string docx;
  if (!docx.empty()) return docx;
  std::string html = Dir() + "/twenty.html";
  QFile f(QString::fromStdString(html));
  f.open(QIODevice::WriteOnly);
  f.write("<html><head><meta charset=\"utf-8\"></head><body>");
  for (int i = 0; i < 450; ++i)
    f.write("<p>第" + QByteArray::number(i) +
            "段。The quick brown fox jumps over the lazy dog, again and again, until the "
            "line wraps and the paragraph fills most of the width of the page.</p>");
  f.write("</body></html>");
  f.close();
  docx = Dir() + "/twenty.docx";
  TOfficeContainer c;
  c.Open(html);
  c.SaveAs(docx);
  return docx;
}

void BM_WorkerStart(benchmark::State& state) {
  App();
  std::string doc = SmallDoc();
  for (auto _ : state) {
    state.PauseTiming();
    TOfficeWorker::Shared().Stop();
    state.ResumeTiming();
    TOfficeContainer c;
    c.Open(doc);
  }
}
BENCHMARK(BM_WorkerStart)->Unit(benchmark::kMillisecond)->Iterations(3);

// What a person waits for when the first document opens: no worker running, then the
// document's first screen painted.
void BM_WorkerStartToFirstScreen(benchmark::State& state) {
  App();
  const std::string& docx = TwentyPages();
  for (auto _ : state) {
    state.PauseTiming();
    TOfficeWorker::Shared().Stop();
    state.ResumeTiming();
    TOfficeContainer c;
    c.resize(1000, 700);
    c.Open(docx);
    ShowCurrent(c);
  }
}
BENCHMARK(BM_WorkerStartToFirstScreen)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenTwentyPagesToFirstScreen(benchmark::State& state) {
  App();
  const std::string& docx = TwentyPages();
  for (auto _ : state) {
    TOfficeContainer c;
    c.resize(1000, 700);
    c.Open(docx);
    ShowCurrent(c);
    state.PauseTiming();
    c.Close();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenTwentyPagesToFirstScreen)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_KeystrokeToScreen(benchmark::State& state) {
  App();
  TOfficeContainer c;
  c.resize(1000, 700);
  c.Open(TwentyPages());
  c.SetTrackRevisions(true);
  ShowCurrent(c);
  int typed = 0;
  for (auto _ : state) {
    QChar ch('a' + typed++ % 26);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A + (ch.unicode() - 'a'), Qt::NoModifier, QString(ch));
    QApplication::sendEvent(&c, &press);
    ShowCurrent(c);
  }
}
BENCHMARK(BM_KeystrokeToScreen)->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
