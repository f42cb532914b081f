#include "preview_helpers.h"

#include <cstdio>

#include <gtest/gtest.h>
#include <png.h>

std::string with_graphic(const std::string& labels, const std::string& counts, const std::string& data)
{
  const size_t start = labels.find("^GF");
  const size_t end = labels.find_first_of("^~", start + 1);
  EXPECT_NE(start, std::string::npos);
  EXPECT_NE(end, std::string::npos);
  return labels.substr(0, start) + "^GFA," + counts + "," + data + "\r\n" + labels.substr(end);
}

std::string replaced(const std::string& labels, const std::string& from, const std::string& to)
{
  const size_t at = labels.find(from);
  EXPECT_NE(at, std::string::npos) << "no " << from;
  if (at == std::string::npos)
    return labels;
  return labels.substr(0, at) + to + labels.substr(at + from.size());
}

std::vector<uint8_t> read_png(const std::string& path, uint32_t& width, uint32_t& height)
{
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    return {};
  image.format = PNG_FORMAT_GRAY;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
    return {};
  width = image.width;
  height = image.height;
  return pixels;
}

std::vector<uint8_t> expected_picture(const std::vector<uint8_t>& packed, size_t rowBytes, uint32_t width,
                                      uint32_t height, int x, int y, bool inverted)
{
  std::vector<uint8_t> picture(size_t{width} * height, 255);
  const long rows = static_cast<long>(packed.size() / rowBytes);
  for (uint32_t py = 0; py < height; ++py)
    for (uint32_t px = 0; px < width; ++px) {
      const long lx = inverted ? long{width} - 1 - px : px, ly = inverted ? long{height} - 1 - py : py;
      const long gx = lx - x, gy = ly - y;
      if (gx < 0 || gy < 0 || gy >= rows || gx >= static_cast<long>(rowBytes * 8))
        continue;
      if (packed[gy * rowBytes + gx / 8] & (0x80 >> (gx % 8)))
        picture[size_t{py} * width + px] = 0;
    }
  return picture;
}
