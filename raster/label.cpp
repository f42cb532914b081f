// The ZPL command stream of one label.
#include <cstdio>
#include <cstring>

#include "common/log.h"
#include "raster/offsets.h"
#include "raster/page.h"

namespace {

void write_bytes(FILE* out, const void* data, size_t size)
{
  std::fwrite(data, 1, size, out);
}

// Formats one text command into the scratch and sends it without its
// terminating zero.
template <size_t N, typename... Args>
void put_command(FILE* out, char (&scratch)[N], const char* format, Args... args)
{
  std::snprintf(scratch, N, format, args...);
  write_bytes(out, scratch, std::strlen(scratch));
}

// Some models take a 7-byte prefix that switches the dotted tear line on or
// off for the label that follows.
void write_dotted_line_header(const LabelDoc* doc, const ModelProfile& model, FILE* out)
{
  if (!model.dottedLineHeader || (doc->dottedLine != 0 && doc->dottedLine != 1))
    return;
  WriteLog("bitmap doc->dottedLine %ld", static_cast<long>(doc->dottedLine));
  const uint8_t header[7] = {0x1F, 0x1B, 0x1A, 0x01, 0x03, 0x01, static_cast<uint8_t>(doc->dottedLine)};
  write_bytes(out, header, sizeof header);
}

// ~TA is a tilde command, taken as soon as it arrives: it goes ahead of the
// format, as a sign and three digits.
void write_tear_offset(const LabelDoc* doc, FILE* out, CommandScratch& scratch)
{
  if (doc->tearOffset == kTearOffsetPrinterDefault)
    return;
  const int rows = doc->tearOffset;
  put_command(out, scratch, "~TA%s%03d\r\n", rows < 0 ? "-" : "", rows < 0 ? -rows : rows);
}

// The first line of the format. ^MN, ^MM and ^MT are format commands,
// which printers ignore outside ^XA...^XZ; the bare ^MN ahead of ^XA stays
// for labels that choose no tracking, as printers have always had it.
void write_format_start(const LabelDoc* doc, const ModelProfile& model, FILE* out, CommandScratch& scratch)
{
  const char tracking[] = {'^', 'M', 'N', doc->mediaTracking, '\0'};
  const char mode[] = {'^', 'M', 'M', doc->printMode, '\0'};
  const char type[] = {'^', 'M', 'T', doc->mediaType, '\0'};
  put_command(out, scratch, "%s^XA%s^LH0,0%s%s^PW%d^LS0^POI^LL%d\r\n", doc->mediaTracking ? "" : "^MN",
              doc->mediaTracking ? tracking : "", doc->printMode ? mode : "", doc->mediaType ? type : "",
              mm_to_dots(model, doc->pageWidth), mm_to_dots(model, doc->pageHeight));
}

}  // namespace

void write_label(const LabelDoc* doc, const ModelProfile& model, const PageLayout& page,
                 PageBuffers& buffers, FILE* out, CommandScratch& scratch)
{
  write_dotted_line_header(doc, model, out);
  write_tear_offset(doc, out, scratch);
  write_format_start(doc, model, out, scratch);
  put_command(out, scratch, "^PR%d\r\n", doc->printSpeed);
  put_command(out, scratch, "~SD%d\r\n", doc->darkness);
  WriteLog("cmd_str:%s", scratch);
  const FieldOrigin origin = field_origin(doc);
  put_command(out, scratch, "^FO%d,%d,0\r\n", static_cast<int>(origin.x), static_cast<int>(origin.y));

  // Both counts are the unpacked size; room for nine-digit counts throughout.
  char field[64] = {};
  put_command(out, field, "^GFA,%u,%u,%u,", page.packedSize, page.packedSize, page.bytesPerRow);
  buffers.compressed.reset();

  write_bytes(out, ":Z64:", 5);
  write_bytes(out, buffers.text.get(), static_cast<size_t>(page.textLen));
  buffers.text.reset();

  const uint16_t crc = page.crc;
  const char trailer[7] = {':',
                           CharToHex((crc >> 12) & 0xF),
                           CharToHex((crc >> 8) & 0xF),
                           CharToHex((crc >> 4) & 0xF),
                           CharToHex(crc & 0xF),
                           '\r',
                           '\n'};
  std::memcpy(scratch, trailer, sizeof trailer);
  write_bytes(out, scratch, sizeof trailer);

  put_command(out, scratch, "^PQ%d^XZ\r\n", static_cast<int>(page.numCopies));
  // The label leaves whole now: a filter ended before the next label must
  // not leave its tail in the stdio buffer and the printer inside a graphic.
  std::fflush(out);
}
