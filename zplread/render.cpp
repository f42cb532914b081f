#include "zplread/render.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <png.h>

namespace {

// The extent of the label's sound graphics on one axis, at least 1 dot.
int64_t graphics_extent(const Label& label, bool across)
{
  int64_t extent = 1;
  for (const Graphic& g : label.graphics) {
    if (g.dots.empty())
      continue;
    const int64_t far = across ? g.x + static_cast<int64_t>(g.rowBytes * 8) : g.y + static_cast<int64_t>(graphic_rows(g));
    extent = std::max(extent, far);
  }
  return std::min(extent, kMaxLabelDots);
}

void on_png_error(png_structp png, png_const_charp message)
{
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  *error = message;
  std::longjmp(png_jmpbuf(png), 1);
}

void on_png_warning(png_structp, png_const_charp) {}

}  // namespace

PictureSize picture_size(const Label& label)
{
  PictureSize size;
  size.width = static_cast<uint32_t>(label.width > 0 ? label.width : graphics_extent(label, true));
  size.height = static_cast<uint32_t>(label.length > 0 ? label.length : graphics_extent(label, false));
  return size;
}

void draw_row(const Label& label, PictureSize size, uint32_t y, uint8_t* row)
{
  std::memset(row, 0, (size.width + 7) / 8);
  const int64_t width = size.width;
  // The label row shown in this picture row.
  const int64_t ly = label.inverted ? int64_t{size.height} - 1 - y : y;
  for (const Graphic& g : label.graphics) {
    const int64_t gy = ly - g.y;
    if (g.dots.empty() || gy < 0 || gy >= static_cast<int64_t>(graphic_rows(g)))
      continue;
    const uint8_t* dots = g.dots.data() + static_cast<uint64_t>(gy) * g.rowBytes;
    const int64_t first = std::max<int64_t>(0, -g.x);
    const int64_t last = std::min<int64_t>(static_cast<int64_t>(g.rowBytes * 8), width - g.x);
    for (int64_t gx = first; gx < last; ++gx) {
      if (!(dots[gx >> 3] & (0x80 >> (gx & 7))))
        continue;
      const int64_t x = label.inverted ? width - 1 - (g.x + gx) : g.x + gx;
      row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
}

bool write_grey_png(const std::string& path, uint32_t width, uint32_t height, int depth, const PngRowSource& rowOf,
                    std::string& error)
{
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = "can't write " + path + ": " + std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, on_png_error, on_png_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    error = "libpng could not start";
    return false;
  }
  // libpng reports its errors by jumping back here; nothing below owns
  // anything that the jump would skip.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    error = "can't write " + path + ": " + error;
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (depth == 1)
    png_set_invert_mono(png);  // set bits are black dots; 1-bit grey has 0 black
  for (uint32_t y = 0; y < height; ++y)
    png_write_row(png, rowOf(y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) {
    error = "can't write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool write_png(const std::string& path, const Label& label, std::string& error)
{
  const PictureSize size = picture_size(label);
  std::vector<uint8_t> row((size.width + 7) / 8);
  const auto drawn = [&](uint32_t y) {
    draw_row(label, size, y, row.data());
    return static_cast<const uint8_t*>(row.data());
  };
  return write_grey_png(path, size.width, size.height, 1, drawn, error);
}
