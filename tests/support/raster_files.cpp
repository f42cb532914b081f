// Test rasters written with libcups, as a CUPS filter chain would send them.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support.h"

namespace {

// Closes a descriptor when it goes out of scope.
struct FdOwner {
  int fd = -1;
  ~FdOwner()
  {
    if (fd >= 0)
      close(fd);
  }
};

// Frees a raster stream when it goes out of scope.
struct RasterOwner {
  cups_raster_t* raster = nullptr;
  ~RasterOwner()
  {
    if (raster)
      cupsRasterClose(raster);
  }
};

// The page header the filter gets for a page: 8-bit grey, colour space W.
cups_page_header2_t grey_header(uint32_t width, uint32_t height, unsigned copies)
{
  cups_page_header2_t header;
  std::memset(&header, 0, sizeof header);
  std::strcpy(header.MediaClass, "PwgRaster");
  header.HWResolution[0] = header.HWResolution[1] = 300;
  header.NumCopies = copies;
  header.cupsWidth = width;
  header.cupsHeight = height;
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = width;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = CUPS_CSPACE_W;
  header.cupsNumColors = 1;
  header.PageSize[0] = width * 72 / 300;
  header.PageSize[1] = height * 72 / 300;
  return header;
}

}  // namespace

GreyPage white_page(uint32_t width, uint32_t height, unsigned copies)
{
  GreyPage page;
  page.width = width;
  page.height = height;
  page.copies = copies;
  page.pixels.assign(size_t{width} * height, 255);
  return page;
}

GreyPage noise_page(uint32_t width, uint32_t height, uint32_t seed, unsigned copies)
{
  GreyPage page = white_page(width, height, copies);
  uint32_t state = seed * 2654435761u + 1;
  for (uint8_t& pixel : page.pixels) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    pixel = static_cast<uint8_t>(state >> 8);
  }
  return page;
}

bool write_raster(const std::string& path, const std::vector<GreyPage>& pages, cups_mode_t mode)
{
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  cups_raster_t* ras = cupsRasterOpen(fd, mode);
  bool ok = ras != nullptr;
  for (const GreyPage& page : pages) {
    if (!ok)
      break;
    const uint32_t claimed = page.claimedHeight ? page.claimedHeight : page.height;
    cups_page_header2_t header = grey_header(page.width, claimed, page.copies);
    ok = cupsRasterWriteHeader2(ras, &header) != 0;
    const size_t bytes = size_t{page.width} * page.height;
    if (ok && bytes)
      ok = cupsRasterWritePixels(ras, const_cast<uint8_t*>(page.pixels.data()), static_cast<unsigned>(bytes)) == bytes;
    if (page.claimedHeight)
      break;  // the stream is cut inside this page
  }
  if (ras)
    cupsRasterClose(ras);
  return close(fd) == 0 && ok;
}

RawPage raw_page(const GreyPage& page)
{
  return {grey_header(page.width, page.height, page.copies), page.pixels};
}

RawPage claimed_page(uint32_t width, uint32_t height, uint32_t bytesPerLine, uint32_t bitsPerPixel, size_t dataBytes)
{
  RawPage page{grey_header(width, height, 1), std::vector<uint8_t>(dataBytes, 0)};
  page.header.cupsBytesPerLine = bytesPerLine;
  page.header.cupsBitsPerPixel = bitsPerPixel;
  return page;
}

bool write_raw_pages(const std::string& path, const std::vector<RawPage>& pages)
{
  std::string bytes;
  const uint32_t sync = CUPS_RASTER_SYNC;
  bytes.append(reinterpret_cast<const char*>(&sync), sizeof sync);
  for (const RawPage& page : pages) {
    bytes.append(reinterpret_cast<const char*>(&page.header), sizeof page.header);
    bytes.append(page.data.begin(), page.data.end());
  }
  return write_file(path, bytes);
}

::testing::AssertionResult read_raster_pages(const std::string& path, std::vector<GreyPage>& pages,
                                             cups_page_header2_t& firstHeader)
{
  pages.clear();
  const FdOwner fd{open(path.c_str(), O_RDONLY)};
  const RasterOwner raster{fd.fd < 0 ? nullptr : cupsRasterOpen(fd.fd, CUPS_RASTER_READ)};
  if (!raster.raster)
    return ::testing::AssertionFailure() << "not a raster file: " << path;
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(raster.raster, &header)) {
    if (pages.empty())
      firstHeader = header;
    if (header.cupsBitsPerPixel != 8 || header.cupsBytesPerLine != header.cupsWidth)
      return ::testing::AssertionFailure() << "page " << pages.size() + 1 << " is not 8-bit grey";
    GreyPage page = white_page(header.cupsWidth, header.cupsHeight, header.NumCopies);
    for (uint32_t y = 0; y < page.height; ++y)
      if (cupsRasterReadPixels(raster.raster, page.pixels.data() + size_t{y} * page.width, page.width) != page.width)
        return ::testing::AssertionFailure() << "short page " << pages.size() + 1;
    pages.push_back(std::move(page));
  }
  if (pages.empty())
    return ::testing::AssertionFailure() << "no page in " << path;
  return ::testing::AssertionSuccess();
}

size_t count_grey(const std::vector<GreyPage>& pages, uint8_t grey)
{
  size_t count = 0;
  for (const GreyPage& page : pages)
    count += static_cast<size_t>(std::count(page.pixels.begin(), page.pixels.end(), grey));
  return count;
}
