// The page loop: every raster page becomes one label.
#include <cstdio>
#include <cstring>
#include <memory>

#include <cups/raster.h>
#include <zlib.h>

#include "filter/log.h"
#include "raster/page.h"
#include "raster/raster.h"

namespace {

struct RasterCloser {
  void operator()(cups_raster_t* ras) const { cupsRasterClose(ras); }
};
using RasterReader = std::unique_ptr<cups_raster_t, RasterCloser>;

constexpr char kNoMemory[] = "ERROR: Unable to allocate memory\n";

template <typename T>
MallocBuffer<T> allocate(uint64_t count)
{
  return MallocBuffer<T>(static_cast<T*>(std::malloc(count ? count * sizeof(T) : 1)));
}

// Reads the pixel rows of a page into the white-filled grey page. A short
// page keeps its missing rows white.
void read_rows(cups_raster_t* ras, const cups_page_header2_t& header, uint8_t* grey, uint64_t stride)
{
  for (uint64_t y = 0; y < header.cupsHeight; ++y) {
    if (cupsRasterReadPixels(ras, grey + y * stride, header.cupsBytesPerLine) == 0)
      break;
  }
}

// Converts one page whose header has been read. Returns false when the job
// has to end here: the page could not be held in memory or is not 8-bit grey.
bool convert_page(const LabelDoc* doc, cups_raster_t* ras, const cups_page_header2_t& header,
                  CommandScratch& scratch)
{
  const uint64_t bytesPerRow = (uint64_t{header.cupsWidth} + 7) >> 3;
  const uint64_t rows = header.cupsHeight;
  WriteLog("cupsBitsPerColor == 1 %d %d", static_cast<int>(header.cupsBytesPerLine),
           static_cast<int>(header.cupsHeight));

  const uint64_t stride = 8 * bytesPerRow;
  if (header.cupsBytesPerLine > stride) {
    std::fprintf(stderr, "ERROR: Page is not 8-bit grey: %u bytes per line for %u pixels\n",
                 header.cupsBytesPerLine, header.cupsWidth);
    return false;
  }
  // Every size of a page is 32-bit; a larger page is one the filter can't hold.
  if (stride * rows > UINT32_MAX) {
    std::fputs(kNoMemory, stderr);
    return false;
  }

  PageBuffers buffers;
  buffers.grey = allocate<uint8_t>(stride * rows);
  if (!buffers.grey) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  std::memset(buffers.grey.get(), 255, stride * rows);
  read_rows(ras, header, buffers.grey.get(), stride);

  PageLayout page{};
  page.bytesPerRow = static_cast<uint32_t>(bytesPerRow);
  page.packedSize = static_cast<uint32_t>(bytesPerRow * rows);
  page.numCopies = header.NumCopies;

  buffers.packed = allocate<uint8_t>(page.packedSize);
  if (!buffers.packed) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  std::memset(buffers.packed.get(), 0, page.packedSize);
  Gray2Bytes(buffers.grey.get(), buffers.packed.get(), static_cast<int32_t>(bytesPerRow),
             static_cast<int32_t>(rows));
  // The grey page is eight times the packed one and no longer needed: let it
  // go before the compressed data and the text are taken.
  buffers.grey.reset();

  // zlib's bound always holds the whole stream, even for a page that
  // hardly compresses.
  uLongf comprLen = compressBound(page.packedSize);
  WriteLog("Len:%ld\n", static_cast<long>(comprLen));
  buffers.compressed = allocate<uint8_t>(comprLen);
  if (!buffers.compressed) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  const int err = compress(buffers.compressed.get(), &comprLen, buffers.packed.get(), page.packedSize);
  const char* zdata = reinterpret_cast<const char*>(buffers.compressed.get());
  WriteLog("pZlib1:%.*s\n", static_cast<int>(strnlen(zdata, comprLen)), zdata);
  WriteLog("comprLen:%ld\n", static_cast<long>(comprLen));
  WriteLog("err:%d\n", err);
  // With the buffer at zlib's bound, only a lack of memory makes it fail;
  // a label with an empty graphic would print blank, so end as for any
  // other allocation.
  if (err == Z_MEM_ERROR) {
    std::fputs(kNoMemory, stderr);
    return false;
  }

  page.textLen = static_cast<int32_t>(base64_length(comprLen));
  WriteLog("base64Len == %d", page.textLen);
  buffers.text = allocate<char>(static_cast<uint64_t>(page.textLen));
  if (!buffers.text) {
    std::fputs(kNoMemory, stderr);
    return false;
  }
  WriteLog("Base64Encode Start");
  Base64Encode(buffers.compressed.get(), static_cast<int64_t>(comprLen), buffers.text.get());
  WriteLog("Base64Encode End");
  WriteLog("base64Buffer %u", page.textLen > 0 ? static_cast<unsigned>(static_cast<uint8_t>(buffers.text[0])) : 0u);
  page.crc = GetCRC16(buffers.text.get(), page.textLen);
  WriteLog("crc %ld", static_cast<long>(page.crc));

  write_label(doc, page, buffers, scratch);
  return true;
}

}  // namespace

int print_bitmap(const LabelDoc* doc, cups_file_t* input)
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
    if (!convert_page(doc, ras.get(), header, scratch))
      break;
  }
  return 0;
}
