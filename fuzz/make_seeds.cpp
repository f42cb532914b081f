// Writes the raster files of the page-loop seed corpus into the folder named
// by its argument: small pages in every stream format libcups writes, and a
// few damaged ones. Run by hand when the corpus needs renewing:
//   make_seeds fuzz/corpus/fuzz_page_loop
#include <cstdio>
#include <string>
#include <vector>

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Page {
  unsigned width, height, bitsPerPixel, copies;
};

// Grey rows with a diagonal and some mid-greys on both sides of the
// thresholds.
std::vector<unsigned char> page_pixels(const Page& page, unsigned bytesPerLine)
{
  std::vector<unsigned char> pixels(size_t{bytesPerLine} * page.height, 255);
  for (unsigned y = 0; y < page.height; ++y)
    for (unsigned x = 0; x < bytesPerLine; ++x)
      pixels[size_t{y} * bytesPerLine + x] =
          x == y ? 0 : static_cast<unsigned char>(150 + (x * 3 + y) % 10);
  return pixels;
}

// Writes the pages in the given mode, then cuts the file to keep bytes
// (0 keeps everything). Returns false on failure.
bool write_raster(const std::string& path, cups_mode_t mode, const std::vector<Page>& pages,
                  off_t keep = 0)
{
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0)
    return false;
  cups_raster_t* ras = cupsRasterOpen(fd, mode);
  bool ok = ras != nullptr;
  for (const Page& page : pages) {
    if (!ok)
      break;
    cups_page_header2_t header{};
    header.cupsWidth = page.width;
    header.cupsHeight = page.height;
    header.cupsBitsPerColor = 8;
    header.cupsBitsPerPixel = page.bitsPerPixel;
    header.cupsBytesPerLine = (page.width * page.bitsPerPixel + 7) / 8;
    header.cupsColorSpace = CUPS_CSPACE_W;
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.HWResolution[0] = header.HWResolution[1] = 300;
    header.NumCopies = page.copies;
    std::vector<unsigned char> pixels = page_pixels(page, header.cupsBytesPerLine);
    ok = cupsRasterWriteHeader2(ras, &header) &&
         cupsRasterWritePixels(ras, pixels.data(), static_cast<unsigned>(pixels.size())) ==
             pixels.size();
  }
  if (ras)
    cupsRasterClose(ras);
  if (ok && keep > 0)
    ok = ftruncate(fd, keep) == 0;
  return close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char* argv[])
{
  if (argc != 2) {
    std::fputs("usage: make_seeds <folder>\n", stderr);
    return 1;
  }
  const std::string dir = argv[1];
  const bool ok =
      write_raster(dir + "/one_page", CUPS_RASTER_WRITE, {{64, 16, 8, 1}}) &&
      write_raster(dir + "/two_pages_compressed", CUPS_RASTER_WRITE_COMPRESSED,
                   {{13, 5, 8, 2}, {40, 10, 8, 1}}) &&
      write_raster(dir + "/pwg", CUPS_RASTER_WRITE_PWG, {{24, 8, 8, 3}}) &&
      write_raster(dir + "/truncated_rows", CUPS_RASTER_WRITE, {{32, 16, 8, 1}}, 1796 + 4 + 100) &&
      write_raster(dir + "/two_bytes_per_pixel", CUPS_RASTER_WRITE_COMPRESSED,
                   {{16, 4, 8, 1}, {16, 4, 16, 1}, {16, 4, 8, 1}});
  if (!ok) {
    std::perror("make_seeds");
    return 1;
  }
  return 0;
}
