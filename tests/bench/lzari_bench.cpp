// LZARI throughput and compression against gzip -9 and xz -9 on the same files: a few
// MiB of C headers (text) and of 32-bit Windows DLLs (binary, as a payload holds); and
// the decoder against the classic bit-at-a-time decoder, on the same streams.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_encoder.h"
#include "lzari/lzari_memory_source.h"
#include "tests/bench/buffer_sink.h"
#include "tests/bench/lzari_classic.h"

namespace fs = std::filesystem;

namespace {

const size_t CorpusSize = 4 << 20;

using Bytes = std::vector<uint8_t>;

// Files below `root` whose name ends in `suffix`, in name order, concatenated up to
// CorpusSize bytes; empty when there are none.
Bytes Gather(const std::string& root, const std::string& suffix) {
  std::vector<fs::path> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string name = it->path().string();
    if (it->is_regular_file(error) && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  Bytes data;
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    data.insert(data.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (data.size() >= CorpusSize) break;
  }
  if (data.size() > CorpusSize) data.resize(CorpusSize);
  return data;
}

struct Corpus {
  std::string name;
  Bytes text;
  Bytes stream;      // our encoding of text
  std::string path;  // text as a file, for gzip and xz
};

Bytes Synthetic(unsigned seed) {
  std::mt19937 random(seed);
  Bytes b;
  while (b.size() < CorpusSize) {
    if (b.size() > 4096 && random() % 2)
      for (size_t i = 0, back = 1 + random() % 4000, n = 3 + random() % 50; i < n; ++i)
        b.push_back(b[b.size() - back]);
    else
      b.push_back(uint8_t(random() % 64));
  }
  return b;
}

std::map<std::string, Corpus>& Corpora() {
  static std::map<std::string, Corpus> corpora;
  if (!corpora.empty()) return corpora;
  struct Source {
    const char* name;
    Bytes data;
  };
  Source sources[] = {
      {"text", Gather("/usr/include", ".h")},
      {"binary", Gather("/usr/lib/gcc/i686-w64-mingw32", ".dll")},
  };
  for (Source& s : sources) {
    Corpus c;
    c.name = s.name;
    c.text = s.data.size() >= (1 << 20) ? s.data : Synthetic(1);
    if (c.text != s.data) std::fprintf(stderr, "%s: files not found, synthetic data\n", s.name);
    c.stream = LzariEncode(c.text.data(), c.text.size());
    c.path =
        (fs::temp_directory_path() / ("lzari_bench_" + c.name + "_" + std::to_string(getpid())))
            .string();
    std::ofstream(c.path, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.text.data()), std::streamsize(c.text.size()));
    corpora[c.name] = std::move(c);
  }
  std::atexit([] {
    for (auto& [name, c] : Corpora()) std::remove(c.path.c_str());
  });
  return corpora;
}

// Output megabytes (10^6) per second, as "MB=.../s".
void ReportRate(benchmark::State& state, size_t bytesPerIteration) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytesPerIteration));
  state.counters["MB"] = benchmark::Counter(
      double(state.iterations()) * double(bytesPerIteration) / 1e6, benchmark::Counter::kIsRate);
}

// The launcher's way: the entry in memory, decoded straight into a 32768-byte buffer.
int KeepBlock(void* context, const uint8_t* block, uint32_t count) {
  benchmark::DoNotOptimize(block);
  *static_cast<uint64_t*>(context) += count;
  return 1;
}

void LzariDecode(benchmark::State& state, const std::string& name) {
  const Corpus& c = Corpora().at(name);
  auto decoder = std::make_unique<LzariDecoder>();
  auto sink = std::make_unique<BufferSink>();
  for (auto _ : state) {
    uint64_t flushed = 0;
    uint32_t fill = 0;
    LzariDecodeBuffered(decoder.get(), c.stream.data(), c.stream.size(), sink->buffer,
                        sizeof sink->buffer, KeepBlock, &flushed, &fill);
    if (flushed + fill != c.text.size()) state.SkipWithError("wrong size");
  }
  ReportRate(state, c.text.size());
}

// A ByteSource and a ByteSink, one call per byte: LzariDecodeStream, or the classic
// decoder (which decodes no other way).
void ByteDecode(benchmark::State& state, const std::string& name, bool classic) {
  const Corpus& c = Corpora().at(name);
  auto decoder = std::make_unique<LzariDecoder>();
  auto sink = std::make_unique<BufferSink>();
  for (auto _ : state) {
    MemorySource source = {c.stream.data(), 0, int32_t(c.stream.size())};
    sink->fill = 0;
    sink->flushed = 0;
    if (classic)
      ClassicLzariDecode(ReadMemoryByte, &source, BufferByte, sink.get());
    else
      LzariDecodeStream(decoder.get(), ReadMemoryByte, &source, BufferByte, sink.get());
    if (sink->flushed + sink->fill != c.text.size()) state.SkipWithError("wrong size");
  }
  ReportRate(state, c.text.size());
}

void LzariEncodeBench(benchmark::State& state, const std::string& name) {
  const Corpus& c = Corpora().at(name);
  size_t size = 0;
  for (auto _ : state) size = LzariEncode(c.text.data(), c.text.size()).size();
  ReportRate(state, c.text.size());
  state.counters["ratio"] = double(size) / double(c.text.size());
}

long FileSize(const std::string& path) {
  std::error_code error;
  auto size = fs::file_size(path, error);
  return error ? -1 : long(size);
}

// gzip or xz as a process: compressing at -9, or expanding its own output.
void Tool(benchmark::State& state, const std::string& name, const std::string& tool, bool expand) {
  const Corpus& c = Corpora().at(name);
  std::string packed = c.path + "." + tool;
  std::string pack = tool + " -9 -c " + c.path + " > " + packed;
  if (std::system(pack.c_str()) != 0) {
    state.SkipWithError((tool + " failed").c_str());
    return;
  }
  std::string command = expand ? tool + " -d -c " + packed + " > /dev/null" : pack;
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError((tool + " failed").c_str());
  ReportRate(state, c.text.size());
  state.counters["ratio"] = double(FileSize(packed)) / double(c.text.size());
  std::remove(packed.c_str());
}

void Register() {
  for (const char* name : {"text", "binary"}) {
    std::string n = name;
    benchmark::RegisterBenchmark(("decode/lzari/" + n).c_str(), LzariDecode, n)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/lzari-bytewise/" + n).c_str(), ByteDecode, n, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/classic/" + n).c_str(), ByteDecode, n, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/gzip/" + n).c_str(), Tool, n, "gzip", true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark(("decode/xz/" + n).c_str(), Tool, n, "xz", true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark(("encode/lzari/" + n).c_str(), LzariEncodeBench, n)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark(("encode/gzip-9/" + n).c_str(), Tool, n, "gzip", false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark(("encode/xz-9/" + n).c_str(), Tool, n, "xz", false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Register();
  for (auto& [name, c] : Corpora())
    std::printf("%s: %zu bytes, lzari %zu bytes (%.1f%%)\n", name.c_str(), c.text.size(),
                c.stream.size(), 100.0 * double(c.stream.size()) / double(c.text.size()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
