// Throughput of the per-page encoders on one 4 x 6 in page at 300 dpi
// (1200 x 1800 dots), with zlib's compress of the same page for scale.
// The page is the first page of the raster named by ZPL_BENCH_RASTER (an
// 8-bit grey CUPS raster), or a drawn stand-in when it is not set.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "raster/raster.h"

namespace {

constexpr uint32_t kWidth = 1200;
constexpr uint32_t kHeight = 1800;

struct Page {
  std::vector<uint8_t> grey;     // kWidth * kHeight, white = 255
  std::vector<uint8_t> packed;   // kWidth / 8 * kHeight
  std::vector<uint8_t> zlib;     // compress() of packed
  std::vector<char> text;        // base64 of zlib
};

// Boxes, bars and a grey ramp: roughly the ink of a shipping label.
void draw_stand_in(std::vector<uint8_t>& grey)
{
  auto fill = [&](uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint8_t v) {
    for (uint32_t y = y0; y < y0 + h && y < kHeight; ++y)
      std::memset(&grey[y * kWidth + x0], v, std::min(w, kWidth - x0));
  };
  fill(20, 20, 1160, 6, 0);
  fill(20, 1774, 1160, 6, 0);
  for (uint32_t x = 60; x < 1000; x += 17)
    fill(x, 900, 3 + x % 7, 400, 0);
  for (uint32_t y = 100; y < 300; ++y)
    for (uint32_t x = 60; x < 260; ++x)
      grey[y * kWidth + x] = static_cast<uint8_t>((x + y) & 0xFF);
  for (uint32_t y = 400; y < 800; y += 40)
    for (uint32_t x = 60; x < 1100; x += 23)
      fill(x, y, 14, 24, 0);
}

bool read_first_page(const char* path, std::vector<uint8_t>& grey)
{
  const int fd = open(path, O_RDONLY);
  if (fd < 0)
    return false;
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  bool ok = ras && cupsRasterReadHeader2(ras, &header) && header.cupsBitsPerPixel == 8 &&
            header.cupsWidth == kWidth && header.cupsHeight == kHeight;
  for (uint32_t y = 0; ok && y < kHeight; ++y)
    ok = cupsRasterReadPixels(ras, &grey[y * kWidth], kWidth) != 0;
  if (ras)
    cupsRasterClose(ras);
  close(fd);
  return ok;
}

const Page& page()
{
  static const Page p = [] {
    Page q;
    q.grey.assign(size_t{kWidth} * kHeight, 255);
    const char* path = std::getenv("ZPL_BENCH_RASTER");
    if (!path || !read_first_page(path, q.grey)) {
      q.grey.assign(q.grey.size(), 255);
      draw_stand_in(q.grey);
    }
    q.packed.assign(q.grey.size() / 8, 0);
    Gray2Bytes(q.grey.data(), q.packed.data(), kWidth / 8, kHeight, kProfile300.monoThreshold);
    uLongf size = compressBound(q.packed.size());
    q.zlib.resize(size);
    compress(q.zlib.data(), &size, q.packed.data(), q.packed.size());
    q.zlib.resize(size);
    q.text.resize(static_cast<size_t>(base64_length(static_cast<int64_t>(size))));
    Base64Encode(q.zlib.data(), static_cast<int64_t>(size), q.text.data());
    return q;
  }();
  return p;
}

// Grey bytes in per second. packed is not cleared between runs: the bits
// only accumulate, which costs the same.
void BM_Gray2Bytes(benchmark::State& state)
{
  const Page& p = page();
  std::vector<uint8_t> packed(p.packed.size(), 0);
  for (auto _ : state) {
    Gray2Bytes(p.grey.data(), packed.data(), kWidth / 8, kHeight, kProfile300.monoThreshold);
    benchmark::DoNotOptimize(packed.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.grey.size()));
}
BENCHMARK(BM_Gray2Bytes);

// Compressed bytes in per second.
void BM_Base64Encode(benchmark::State& state)
{
  const Page& p = page();
  std::vector<char> text(p.text.size());
  for (auto _ : state) {
    Base64Encode(p.zlib.data(), static_cast<int64_t>(p.zlib.size()), text.data());
    benchmark::DoNotOptimize(text.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.zlib.size()));
}
BENCHMARK(BM_Base64Encode);

// Base64 characters in per second.
void BM_GetCRC16(benchmark::State& state)
{
  const Page& p = page();
  for (auto _ : state)
    benchmark::DoNotOptimize(GetCRC16(p.text.data(), static_cast<int32_t>(p.text.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.text.size()));
}
BENCHMARK(BM_GetCRC16);

// Packed bytes in per second: the yardstick for the two encoders above.
void BM_compress(benchmark::State& state)
{
  const Page& p = page();
  std::vector<uint8_t> out(compressBound(p.packed.size()));
  for (auto _ : state) {
    uLongf size = out.size();
    benchmark::DoNotOptimize(compress(out.data(), &size, p.packed.data(), p.packed.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.packed.size()));
}
BENCHMARK(BM_compress);

}  // namespace

BENCHMARK_MAIN();
