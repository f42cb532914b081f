// Test rasters written with libcups, as a CUPS filter chain would send them.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "support.h"

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
