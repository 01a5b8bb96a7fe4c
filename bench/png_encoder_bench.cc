// The PNG encoder alone, one thread, one frame per iteration, side by side with libpng writing
// the same pixels the same way: 8-bit RGB, filter Up on every row, zlib level 1.
//
//   png_encoder_bench --frames=DIR [Google Benchmark flags]
//
// DIR holds <set>_<W>x<H>.rgb files of whole W×H×3 frames for the sets "photo" and "noisy"
// (bench/natural_frames.py writes them); each benchmark, named <encoder>/<set>_<W>x<H>, cycles
// through the frames of its set and size. The counter png_bytes is the mean encoded size of a
// frame, so the two encoders' compression can be compared too.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "png/png_encoder.h"

namespace {

std::string frames_dir;

struct Frames {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<std::vector<uint8_t>> pictures;
};

std::string case_name(const std::string& set, uint32_t width, uint32_t height) {
  return set + "_" + std::to_string(width) + "x" + std::to_string(height);
}

// Reads DIR/<set>_<W>x<H>.rgb; an unreadable or empty file ends the program with a message.
Frames load_frames(const std::string& set, uint32_t width, uint32_t height) {
  const std::string path = frames_dir + "/" + case_name(set, width, height) + ".rgb";
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  const size_t frame_bytes = size_t{3} * width * height;
  if (bytes.size() < frame_bytes) {
    std::fprintf(stderr, "png_encoder_bench: %s holds no whole %ux%u frame\n", path.c_str(), width,
                 height);
    std::exit(2);
  }
  Frames frames{width, height, {}};
  for (size_t at = 0; at + frame_bytes <= bytes.size(); at += frame_bytes) {
    frames.pictures.emplace_back(bytes.begin() + at, bytes.begin() + at + frame_bytes);
  }
  return frames;
}

void png_append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void png_no_flush(png_structp) {}

// One PNG file into out with libpng, configured as our encoder works. A libpng error is fatal:
// these inputs are always valid.
void libpng_encode(const Frames& frames, const std::vector<uint8_t>& pixels,
                   std::vector<uint8_t>& out) {
  out.clear();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "png_encoder_bench: libpng failed\n");
    std::exit(2);
  }
  png_set_write_fn(png, &out, png_append, png_no_flush);
  png_set_IHDR(png, info, frames.width, frames.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_compression_level(png, 1);
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_write_info(png, info);
  const size_t stride = size_t{3} * frames.width;
  for (uint32_t row = 0; row < frames.height; ++row) {
    png_write_row(png, const_cast<png_bytep>(pixels.data() + row * stride));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

void report(benchmark::State& state, uint64_t encoded_bytes, const Frames& frames) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * int64_t{3} * frames.width * frames.height);
  state.counters["png_bytes"] =
      benchmark::Counter(static_cast<double>(encoded_bytes), benchmark::Counter::kAvgIterations);
}

void BM_encode_png_rgb24(benchmark::State& state, const Frames& frames) {
  data_daemon_bridge::PngScratch scratch;
  uint64_t encoded = 0;
  size_t next = 0;
  for (auto _ : state) {
    const auto& pixels = frames.pictures[next++ % frames.pictures.size()];
    encoded += data_daemon_bridge::encode_png_rgb24(scratch, frames.width, frames.height, pixels);
    benchmark::DoNotOptimize(scratch.png.data());
  }
  report(state, encoded, frames);
}

void BM_libpng(benchmark::State& state, const Frames& frames) {
  std::vector<uint8_t> out;
  uint64_t encoded = 0;
  size_t next = 0;
  for (auto _ : state) {
    libpng_encode(frames, frames.pictures[next++ % frames.pictures.size()], out);
    encoded += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  report(state, encoded, frames);
}

// bench/report.py runs them with repetitions in a random order, so both see the same machine.
// The frames are loaded once, before any benchmark runs, and outlive them all.
void register_benchmarks(std::vector<Frames>& all_frames) {
  const char* sets[] = {"photo", "noisy"};
  const uint32_t sizes[][2] = {{640, 480}, {1920, 1080}};
  all_frames.reserve(std::size(sets) * std::size(sizes));
  for (const char* set : sets) {
    for (const auto& size : sizes) {
      const Frames& frames = all_frames.emplace_back(load_frames(set, size[0], size[1]));
      const std::string name = case_name(set, size[0], size[1]);
      benchmark::RegisterBenchmark(("encode_png_rgb24/" + name).c_str(), BM_encode_png_rgb24,
                                   std::cref(frames))
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("libpng/" + name).c_str(), BM_libpng, std::cref(frames))
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--frames=", 9) == 0) frames_dir = argv[i] + 9;
  }
  if (frames_dir.empty()) {
    std::fprintf(stderr,
                 "usage: png_encoder_bench --frames=DIR [benchmark flags]\n"
                 "DIR holds <set>_<W>x<H>.rgb frames (bench/natural_frames.py DIR)\n");
    return 2;
  }
  std::vector<Frames> frames;
  register_benchmarks(frames);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
