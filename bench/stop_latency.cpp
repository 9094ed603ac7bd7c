// How long a stop request takes to end a run whose workers are all inside a
// converter that ignores SIGTERM and would run for half a minute.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/dispatch.h"
#include "app/search.h"

namespace {

namespace fs = std::filesystem;

void BM_StopWithHungConverters(benchmark::State& state) {
  const fs::path root = fs::temp_directory_path() / ("kuribo-stop-" + std::to_string(getpid()));
  fs::create_directories(root / "prog");
  fs::create_directories(root / "docs");
  {
    std::ofstream s(root / "prog" / "xdoc2txt");
    s << "#!/bin/sh\ntrap '' TERM\nsleep 30\n";
  }
  chmod((root / "prog" / "xdoc2txt").c_str(), 0755);
  for (int i = 0; i < 8; ++i) std::ofstream(root / "docs" / ("f" + std::to_string(i) + ".doc")) << "x";
  const std::string prog = (root / "prog").string() + "/";
  const int workers = (int)state.range(0);
  std::vector<std::unique_ptr<kuribo::ExtractionContext>> contexts;
  for (int i = 0; i < workers; ++i) contexts.push_back(kuribo::MakeExtractionContext(prog, kuribo::DetectConverters(prog)));
  kuribo::SearchRequest request;
  request.keywords = {"abc"};
  request.directories = {(root / "docs").string() + "/"};
  request.types.checked[0] = true;
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::chrono::steady_clock::time_point asked, ended;
    std::thread run([&] {
      kuribo::RunSearch(request, contexts, {}, stop);
      ended = std::chrono::steady_clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    asked = std::chrono::steady_clock::now();
    stop = true;
    run.join();
    state.SetIterationTime(std::chrono::duration<double>(ended - asked).count());
  }
  fs::remove_all(root);
}
BENCHMARK(BM_StopWithHungConverters)->Arg(1)->Arg(2)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
