// The CUPS page loop: every page of a raster stream becomes one label.
#include <cerrno>
#include <cstdio>
#include <cstring>
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

// True once the job has been cancelled.
bool is_cancelled(CancelFlag cancelled) { return cancelled && *cancelled; }

// True when the whole label reached the reader. A write that failed anywhere
// in it leaves the stream's error flag set; the job can't go on then, since
// the labels would be lost without anyone knowing.
bool label_sent(FILE* out)
{
  if (std::fflush(out) == 0 && !std::ferror(out))
    return true;
  const char* why = std::strerror(errno);
  std::fprintf(stderr, "ERROR: Unable to send the label: %s\n", why);
  WriteLog("Unable to send the label: %s", why);
  return false;
}

enum class PageOutcome { kPrinted, kJobEnds, kOutputFailed };

// Converts one page whose header has been read. The job ends here when the
// page could not be held in memory or is not 8-bit grey, when the job was
// cancelled before its label started, or when the label could not be sent.
PageOutcome convert_page(const LabelDoc* doc, const ModelProfile& model, cups_raster_t* ras,
                         const cups_page_header2_t& header, CommandScratch& scratch, CancelFlag cancelled)
{
  WriteLog("cupsBitsPerColor == 1 %d %d", static_cast<int>(header.cupsBytesPerLine),
           static_cast<int>(header.cupsHeight));

  // One grey byte per pixel: a longer line is some other pixel format, and
  // its extra bytes would print as dots in the row's padding.
  if (header.cupsBytesPerLine > header.cupsWidth) {
    std::fprintf(stderr, "ERROR: Page is not 8-bit grey: %u bytes per line for %u pixels\n",
                 header.cupsBytesPerLine, header.cupsWidth);
    return PageOutcome::kJobEnds;
  }

  RasterPage page;
  if (!new_raster_page(page, header.cupsWidth, header.cupsHeight, header.NumCopies)) {
    std::fputs(kNoMemory, stderr);
    return PageOutcome::kJobEnds;
  }
  read_rows(ras, header, page);
  if (!write_page_label(doc, model, page, stdout, scratch, cancelled)) {
    if (!is_cancelled(cancelled))
      std::fputs(kNoMemory, stderr);
    return PageOutcome::kJobEnds;
  }
  return label_sent(stdout) ? PageOutcome::kPrinted : PageOutcome::kOutputFailed;
}

}  // namespace

int print_bitmap(const LabelDoc* doc, const ModelProfile& model, cups_file_t* input, CancelFlag cancelled,
                 LabelHook afterLabel)
{
  CommandScratch scratch = {};
  RasterReader ras(cupsRasterOpen(cupsFileNumber(input), CUPS_RASTER_READ));
  int pageNumber = 0, labels = 0;

  cups_page_header2_t header;
  // A cancelled job reads no further page; the read under way when the
  // signal came is restarted and noticed when it returns (CUPS signals the
  // filters before ours too, so the stream ends soon).
  while (ras && !is_cancelled(cancelled) && cupsRasterReadHeader2(ras.get(), &header)) {
    // An empty page ends the job, whatever follows it.
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0)
      break;
    ++pageNumber;
    std::fprintf(stderr, "PAGE: %d %d\n", pageNumber, static_cast<int>(header.NumCopies));
    const PageOutcome outcome = convert_page(doc, model, ras.get(), header, scratch, cancelled);
    if (outcome == PageOutcome::kOutputFailed)
      return 1;
    if (outcome == PageOutcome::kJobEnds)
      break;
    ++labels;
    if (afterLabel.call)
      afterLabel.call(afterLabel.context);
  }
  if (is_cancelled(cancelled))
    WriteLog("job cancelled after %d labels", labels);
  return 0;
}
