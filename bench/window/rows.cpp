// The result list with 100,000 rows: filling, sorting by every column and
// select-all, on the real window (offscreen unless a display is set).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTableView>

#include "app/window/form1.h"
#include "app/window/result_model.h"
#include "encoding/sjis.h"

namespace {

using kuribo::ResultRow;

std::vector<ResultRow> Rows(int n) {
  std::vector<ResultRow> rows;
  rows.reserve((size_t)n);
  for (int i = 0; i < n; ++i) {
    ResultRow r;
    r.path = "/home/user/docs/d" + std::to_string(i % 300) + "/file" + std::to_string(i) + ".txt";
    r.name = "file" + std::to_string((int64_t)i * 7919 % n) + ".txt";
    r.type = i % 3 ? ".txt" : ".docx";
    r.hits = (i * 31) % 97;
    r.sjisPath = r.path;
    r.snippet = kuribo::Utf8ToSjis("見積書を送付いたします 第" + std::to_string(i % 1000) + "号 abc");
    r.date = "2026/12/" + std::to_string(10 + i % 18) + "  09:05:07";
    r.size = (uint64_t)i * 104729u % 5000000u;
    rows.push_back(std::move(r));
  }
  return rows;
}

kuribo::FormOptions Options() {
  kuribo::FormOptions o;
  o.programDir = QDir::tempPath() + "/";
  o.dataDir = QDir::tempPath() + "/";
  o.workers = 1;
  return o;
}

void BM_Fill100k(benchmark::State& state) {
  kuribo::TForm1 form(Options());
  form.show();
  for (auto _ : state) {
    state.PauseTiming();
    form.results->Clear();
    auto rows = Rows(100000);
    state.ResumeTiming();
    form.results->Append(std::move(rows));
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_Fill100k)->Unit(benchmark::kMillisecond);

void BM_Sort100k(benchmark::State& state) {
  kuribo::TForm1 form(Options());
  form.show();
  form.results->Append(Rows(100000));
  const int column = (int)state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    form.ListView3ColumnClick(0);  // back to the starting order
    state.ResumeTiming();
    form.ListView3ColumnClick(column);
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_Sort100k)->DenseRange(1, 7)->Unit(benchmark::kMillisecond);

void BM_SelectAll100k(benchmark::State& state) {
  kuribo::TForm1 form(Options());
  form.show();
  form.results->Append(Rows(100000));
  for (auto _ : state) {
    form.Button7Click();
    QCoreApplication::processEvents();
    form.Button8Click();
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_SelectAll100k)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
