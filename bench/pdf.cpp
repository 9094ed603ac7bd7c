// The PDF reader over the corpus PDFs, copied five times into a temporary
// folder, against a loop that starts `pdftotext -enc UTF-8 FILE -` for each
// file (output discarded). One worker; figures are files/s and MB/s.
//   bench_pdf [--benchmark_filter=...]      (corpus: KURIBO_CORPUS_DIR or ../shared/corpus)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "extract/context.h"
#include "extract/pdf/pdf.h"
#include "platform/fs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Corpus {
  std::vector<std::string> files;
  double bytes = 0;
  std::string dir;
};

const Corpus& Files() {
  static const Corpus* corpus = [] {
    auto* c = new Corpus();
    const char* env = std::getenv("KURIBO_CORPUS_DIR");
    const fs::path src = fs::path(env ? env : "../shared/corpus") / "pdf";
    if (!fs::exists(src)) return c;
    c->dir = (fs::temp_directory_path() / ("kuribo_bench_pdf_" + std::to_string(getpid()))).string();
    for (int copy = 0; copy < 5; ++copy) {
      const fs::path to = fs::path(c->dir) / std::to_string(copy);
      fs::create_directories(to);
      for (const auto& e : fs::directory_iterator(src)) {
        if (e.path().extension() != ".pdf") continue;
        const fs::path dst = to / e.path().filename();
        fs::copy_file(e.path(), dst, fs::copy_options::overwrite_existing);
        c->files.push_back(dst.string());
        c->bytes += (double)fs::file_size(dst);
      }
    }
    return c;
  }();
  return *corpus;
}

void Report(benchmark::State& state, const Corpus& c) {
  state.counters["files/s"] = benchmark::Counter((double)c.files.size() * (double)state.iterations(),
                                                 benchmark::Counter::kIsRate);
  state.counters["MB/s"] = benchmark::Counter(c.bytes / 1e6 * (double)state.iterations(),
                                              benchmark::Counter::kIsRate);
  state.counters["files"] = (double)c.files.size();
}

void BM_KuriboPdfReader(benchmark::State& state) {
  const Corpus& c = Files();
  if (c.files.empty()) return state.SkipWithError("corpus not found");
  kuribo::ExtractionContext ctx;
  ctx.text.reset(new char[kuribo::kTextBufferSize]);
  ctx.file = kuribo::MakeFileBuffer(kuribo::kFileBufferSize);
  ctx.programDir = kuribo::ExecutableDirectory() + "../bin/";
  kuribo::AllocatePdfWorkspace(ctx);
  long long text = 0;
  for (auto _ : state) {
    for (const std::string& f : c.files) {
      text += kuribo::ExtractPdfText(f, (int32_t)fs::file_size(f), ctx);
    }
  }
  benchmark::DoNotOptimize(text);
  Report(state, c);
}
BENCHMARK(BM_KuriboPdfReader)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_PdftotextLoop(benchmark::State& state) {
  const Corpus& c = Files();
  if (c.files.empty()) return state.SkipWithError("corpus not found");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    for (const std::string& f : c.files) {
      const char* argv[] = {"pdftotext", "-enc", "UTF-8", f.c_str(), "-", nullptr};
      pid_t pid;
      if (posix_spawnp(&pid, "pdftotext", &actions, nullptr, (char* const*)argv, environ) != 0) {
        return state.SkipWithError("pdftotext not found");
      }
      int status = 0;
      waitpid(pid, &status, 0);
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  Report(state, c);
}
BENCHMARK(BM_PdftotextLoop)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!Files().dir.empty()) fs::remove_all(Files().dir);
  return 0;
}
