// The CUPS page loop: every page of a raster stream becomes one label.
#include <cstdio>
#include <memory>

#include <cups/raster.h>

#include "common/log.h"
#include "raster/raster.h"

namespace {

struct RasterCloser {
  void operator()(cups_raster_t* ras) const { cupsRasterClose(ras); }
};
using RasterReader = std::unique_ptr<cups_raster_t, RasterCloser>;

constexpr char kNoMemory[] = "ERROR: Unable to allocate memory\n";

// Reads the pixel rows of a page into the white page. A short page keeps
// its missing rows white.
void read_rows(cups_raster_t* ras, const cups_page_header2_t& header, RasterPage& page)
{
  for (uint64_t y = 0; y < header.cupsHeight; ++y) {
    if (cupsRasterReadPixels(ras, page.grey.get() + y * page.stride, header.cupsBytesPerLine) == 0)
      break;
  }
}

// Converts one page whose header has been read. Returns false when the job
// has to end here: the page could not be held in memory or is not 8-bit grey.
bool convert_page(const LabelDoc* doc, const ModelProfile& model, cups_raster_t* ras,
                  const cups_page_header2_t& header, CommandScratch& scratch)
{
  WriteLog("cupsBitsPerColor == 1 %d %d", static_cast<int>(header.cupsBytesPerLine),
           static_cast<int>(header.cupsHeight));

  const uint64_t stride = (uint64_t{header.cupsWidth} + 7) / 8 * 8;
  if (header.cupsBytesPerLine > stride) {
    std::fprintf(stderr, "ERROR: Page is not 8-bit grey: %u bytes per line for %u pixels\n",
                 header.cupsBytesPerLine, header.cupsWidth);
    return false;
  }

  RasterPage page;
  if (!new_raster_page(page, header.cupsWidth, header.cupsHeight, header.NumCopies)) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  read_rows(ras, header, page);
  if (!write_page_label(doc, model, page, stdout, scratch)) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  return true;
}

}  // namespace

int print_bitmap(const LabelDoc* doc, const ModelProfile& model, cups_file_t* input)
{
  CommandScratch scratch = {};
  RasterReader ras(cupsRasterOpen(cupsFileNumber(input), CUPS_RASTER_READ));
  int pageNumber = 0;

  cups_page_header2_t header;
  while (ras && cupsRasterReadHeader2(ras.get(), &header)) {
    // An empty page ends the job, whatever follows it.
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0)
      break;
    ++pageNumber;
    std::fprintf(stderr, "PAGE: %d %d\n", pageNumber, static_cast<int>(header.NumCopies));
    if (!convert_page(doc, model, ras.get(), header, scratch))
      break;
  }
  return 0;
}
