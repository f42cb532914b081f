#include "quality/planes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <cups/raster.h>

#include "zplread/render.h"
#include "zplread/zpl_parse.h"

namespace {

// Closes a raster stream and its descriptor when it goes out of scope.
struct RasterFile {
  int fd = -1;
  cups_raster_t* raster = nullptr;
  ~RasterFile()
  {
    if (raster)
      cupsRasterClose(raster);
    if (fd >= 0)
      close(fd);
  }
};

// One page's rows as grey: 8-bit rows as they are, 1-bit rows unpacked.
bool read_page(cups_raster_t* raster, const cups_page_header2_t& header, Plane& plane)
{
  plane.width = header.cupsWidth;
  plane.height = header.cupsHeight;
  plane.px.assign(size_t(plane.width) * plane.height, 255);
  std::vector<uint8_t> row(header.cupsBytesPerLine);
  for (uint32_t y = 0; y < plane.height; ++y) {
    if (cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine) != header.cupsBytesPerLine)
      return false;
    uint8_t* out = plane.px.data() + size_t(y) * plane.width;
    if (header.cupsBitsPerPixel == 8) {
      std::copy_n(row.data(), plane.width, out);
    } else {
      for (uint32_t x = 0; x < plane.width; ++x)
        out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 0 : 255;
    }
  }
  return true;
}

// A 1-D Gaussian of the given sigma, cut at three sigma, summing to one.
std::vector<float> gaussian_kernel(double sigma)
{
  const int radius = static_cast<int>(std::ceil(3 * sigma));
  std::vector<float> kernel(2 * radius + 1);
  double sum = 0;
  for (int i = -radius; i <= radius; ++i)
    sum += kernel[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (float& k : kernel)
    k = static_cast<float>(k / sum);
  return kernel;
}

}  // namespace

bool read_raster_planes(const std::string& path, std::vector<Plane>& pages, unsigned& dpi, std::string& error)
{
  pages.clear();
  RasterFile file;
  file.fd = open(path.c_str(), O_RDONLY);
  if (file.fd < 0) {
    error = "can't read " + path + ": " + std::strerror(errno);
    return false;
  }
  file.raster = cupsRasterOpen(file.fd, CUPS_RASTER_READ);
  if (!file.raster) {
    error = path + " is not a CUPS raster";
    return false;
  }
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(file.raster, &header)) {
    const bool grey = header.cupsBitsPerPixel == 8 && header.cupsColorSpace == CUPS_CSPACE_W;
    const bool black = header.cupsBitsPerPixel == 1 && header.cupsColorSpace == CUPS_CSPACE_K;
    if (!grey && !black) {
      error = path + ": neither 8-bit grey nor 1-bit black";
      return false;
    }
    dpi = header.HWResolution[0];
    pages.emplace_back();
    if (!read_page(file.raster, header, pages.back())) {
      error = path + ": page " + std::to_string(pages.size()) + " is cut short";
      return false;
    }
  }
  if (pages.empty())
    error = path + " holds no page";
  return !pages.empty();
}

bool read_label_planes(const std::string& path, uint32_t width, uint32_t height, std::vector<LabelPage>& labels,
                       std::string& error)
{
  labels.clear();
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    error = "can't read " + path;
    return false;
  }
  const ZplStream stream = parse_zpl(bytes);
  if (!stream_sound(stream)) {
    error = path + " holds a label that is not sound";
    return false;
  }
  for (const Label& label : stream.labels) {
    if (label.graphics.size() != 1) {
      error = path + ": label " + std::to_string(label.number) + " has no single graphic";
      return false;
    }
    const Graphic& g = label.graphics.front();
    LabelPage page;
    page.z64Bytes = g.sentBytes;
    page.dots.width = width;
    page.dots.height = height;
    page.dots.px.assign(size_t(width) * height, 255);
    const uint64_t rows = graphic_rows(g);
    for (uint64_t gy = 0; gy < rows; ++gy) {
      const int64_t y = g.y + static_cast<int64_t>(gy);
      if (y < 0 || y >= height)
        continue;
      const uint8_t* dots = g.dots.data() + gy * g.rowBytes;
      for (uint64_t gx = 0; gx < g.rowBytes * 8; ++gx) {
        const int64_t x = g.x + static_cast<int64_t>(gx);
        if (x >= 0 && x < width && (dots[gx >> 3] & (0x80 >> (gx & 7))))
          page.dots.px[size_t(y) * width + size_t(x)] = 0;
      }
    }
    labels.push_back(std::move(page));
  }
  return true;
}

Box clip(const Plane& plane, Box box)
{
  const int32_t x0 = std::clamp<int32_t>(box.x, 0, plane.width);
  const int32_t y0 = std::clamp<int32_t>(box.y, 0, plane.height);
  const int32_t x1 = std::clamp<int32_t>(box.x + box.w, 0, plane.width);
  const int32_t y1 = std::clamp<int32_t>(box.y + box.h, 0, plane.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

Plane crop(const Plane& plane, Box box)
{
  box = clip(plane, box);
  Plane out;
  out.width = box.w;
  out.height = box.h;
  out.px.resize(size_t(box.w) * box.h);
  for (int32_t y = 0; y < box.h; ++y)
    std::copy_n(plane.px.data() + size_t(box.y + y) * plane.width + box.x, box.w, out.px.data() + size_t(y) * box.w);
  return out;
}

std::vector<float> gaussian_blur(const Plane& plane, double sigma)
{
  const std::vector<float> kernel = gaussian_kernel(sigma);
  const int radius = static_cast<int>(kernel.size() / 2);
  const int32_t w = plane.width, h = plane.height;
  std::vector<float> across(size_t(w) * h), out(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = plane.px.data() + size_t(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      float sum = 0;
      for (int i = -radius; i <= radius; ++i) {
        const int32_t sx = x + i;
        sum += kernel[i + radius] * (sx < 0 || sx >= w ? 255.0f : row[sx]);
      }
      across[size_t(y) * w + x] = sum;
    }
  }
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      float sum = 0;
      for (int i = -radius; i <= radius; ++i) {
        const int32_t sy = y + i;
        sum += kernel[i + radius] * (sy < 0 || sy >= h ? 255.0f : across[size_t(sy) * w + x]);
      }
      out[size_t(y) * w + x] = sum;
    }
  }
  return out;
}

bool write_grey_png(const std::string& path, const Plane& plane, std::string& error)
{
  const auto row = [&](uint32_t y) { return plane.px.data() + size_t(y) * plane.width; };
  return write_grey_png(path, plane.width, plane.height, 8, row, error);
}
