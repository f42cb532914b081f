#include "preview_helpers.h"

#include <cstdio>

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include "raster/raster.h"

std::string filter_labels(const char* program, const std::vector<GreyPage>& pages, const std::string& options)
{
  const std::string dir = make_temp_dir();
  const std::string raster = dir + "/job.ras";
  EXPECT_TRUE(write_raster(raster, pages));
  const ProcessResult result = run_program(program, {program, "1", "alice", "labels", "1", options, raster}, dir, {},
                                           {"-PPD"});
  EXPECT_EQ(result.status, 0) << result.err;
  remove_tree(dir);
  return result.out;
}

std::vector<uint8_t> zlib_stream(const std::vector<uint8_t>& bytes)
{
  uLongf length = compressBound(bytes.size());
  std::vector<uint8_t> stream(length);
  EXPECT_EQ(compress(stream.data(), &length, bytes.data(), bytes.size()), Z_OK);
  stream.resize(length);
  return stream;
}

std::string base64_field_text(const char* form, const std::string& text)
{
  char crc[8];
  std::snprintf(crc, sizeof crc, "%04X", crc16_reference(text));
  return form + text + ":" + crc;
}

std::string base64_field(const char* form, const std::vector<uint8_t>& bytes)
{
  std::string text(static_cast<size_t>(base64_length(static_cast<int64_t>(bytes.size()))), '\0');
  Base64Encode(bytes.data(), static_cast<int64_t>(bytes.size()), text.data());
  return base64_field_text(form, text);
}

std::string hex_field(const std::vector<uint8_t>& bytes, size_t rowBytes)
{
  std::string text;
  char digits[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
    if ((i + 1) % rowBytes == 0)
      text += "\r\n";
  }
  return text;
}

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
