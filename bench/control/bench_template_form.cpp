// The document form opening an "EXCE" reply of a 200-row by 50-column sheet with 100
// fields, offscreen: from the reply's last byte to the form shown, and the submit that
// builds its "UPDA" frame.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>

#include "apps/oa-server/OaSampleData.h"
#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "control/wire/Un_type.h"
#include "grid/XLCells.h"
#include "platform/Services.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "bench-template-form";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

std::string BigReply() {
  XLRegisterCellClasses();
  TXLSheet sheet;
  sheet.SetCount(sCols, 50);
  sheet.SetCount(sRows, 200);
  for (int c = 0; c < 50; ++c)
    for (int r = 0; r < 200; ++r) sheet.SetAsString(c, r, "cell " + std::to_string(c * 200 + r));
  AnsiString editable;
  for (int i = 0; i < 100; ++i) {
    const AnsiString name = "F" + std::to_string(i);
    sheet.GetCell(i % 50, 2 * (i / 50) + 1)->SetHint(name);
    editable += (i ? "," : "") + name;
  }
  TMemoryStream sheetStream;
  sheet.SaveToStream(sheetStream);

  const TFlowMessage flow = oa::SampleWorkflows()[0];
  TStream2Array doc;
  doc.Header.SetText(dh::TableName, "oa_leave");
  doc.Header.SetText(dh::RecordId, "{B0000000-1111-4222-8333-444444444444}");
  doc.Header.SetI32(dh::CurrentStep, 1);
  doc.Header.SetI32(dh::NextStep, -1);
  doc.Header.SetI32(dh::NumberType, -1);
  doc.Steps = flow.steps;
  doc.Steps[0].editableCells = editable;
  for (int i = 0; i < 100; ++i) doc.FieldRecords.push_back({"F" + std::to_string(i), "value " + std::to_string(i)});
  doc.FieldRecords.push_back({"Status", "0"});
  return doc.BuildDocumentReply(sheetStream.Data(), flow.chart);
}

void BM_OpenDocumentForm(benchmark::State& state) {
  App();
  ServiceCapture capture;
  SessionValues().DeptID = 10;
  const std::string reply = BigReply();
  for (auto _ : state) {
    TMemoryStream stream{reply};
    auto form = std::make_unique<TfrmTemplate>();
    form->Load(stream);
    form->show();
    QApplication::processEvents();
    benchmark::DoNotOptimize(form->GridWidth());
    state.PauseTiming();
    form.reset();
    QApplication::processEvents();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(reply.size()));
}
BENCHMARK(BM_OpenDocumentForm)->Unit(benchmark::kMillisecond);

void BM_SubmitDocumentForm(benchmark::State& state) {
  App();
  ServiceCapture capture;
  SessionValues().DeptID = 10;
  const std::string reply = BigReply();
  TMemoryStream stream{reply};
  TfrmTemplate form;
  form.Load(stream);
  for (auto _ : state) {
    form.btnSendClick();  // always builds the frame: a submit is forced
    benchmark::DoNotOptimize(form.Doc().FrameStream().Size());
  }
  state.counters["frame_bytes"] = double(form.Doc().FrameStream().Size());
}
BENCHMARK(BM_SubmitDocumentForm)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
