// One grey page becomes one label: packing, Z64 encoding, the command stream.
#include <cstring>

#include <zlib.h>

#include "common/log.h"
#include "raster/offsets.h"
#include "raster/page.h"

namespace {

template <typename T>
MallocBuffer<T> allocate(uint64_t count)
{
  return MallocBuffer<T>(static_cast<T*>(std::malloc(count ? count * sizeof(T) : 1)));
}

// Packs the grey page into packed, in the job's halftone mode. False when
// the working rows of error diffusion can't be allocated.
bool pack_page(const LabelDoc* doc, const ModelProfile& model, const RasterPage& raster, uint8_t* packed)
{
  const uint32_t bytesPerRow = raster.stride / 8;
  if (doc->halftone == Halftone::kThreshold) {
    Gray2Bytes(raster.grey.get(), packed, static_cast<int32_t>(bytesPerRow), static_cast<int32_t>(raster.height),
               model.monoThreshold);
    return true;
  }
  WriteLog("halftone_pack: mode %d", static_cast<int>(doc->halftone));
  const MallocBuffer<int16_t> scratch = allocate<int16_t>(halftone_scratch(doc->halftone, bytesPerRow));
  if (!scratch)
    return false;
  halftone_pack(raster.grey.get(), packed, bytesPerRow, raster.height, model.monoThreshold, doc->halftone,
                scratch.get());
  return true;
}

}  // namespace

bool new_raster_page(RasterPage& page, uint32_t width, uint32_t height, unsigned copies)
{
  const uint64_t stride = (uint64_t{width} + 7) / 8 * 8;
  // Every size of a page is 32-bit; a larger page is one the filter can't hold.
  if (stride * height > UINT32_MAX)
    return false;
  page.grey = allocate<uint8_t>(stride * height);
  if (!page.grey)
    return false;
  std::memset(page.grey.get(), 255, stride * height);
  page.width = width;
  page.height = height;
  page.stride = static_cast<uint32_t>(stride);
  page.copies = copies;
  return true;
}

bool write_page_label(const LabelDoc* doc, const ModelProfile& model, RasterPage& raster, FILE* out,
                      CommandScratch& scratch, CancelFlag cancelled)
{
  // Negative offsets leave an ordinary, smaller page: what follows never
  // needs to know about them.
  crop_for_offsets(doc, raster);

  PageLayout page{};
  page.bytesPerRow = raster.stride / 8;
  page.packedSize = page.bytesPerRow * raster.height;
  page.numCopies = raster.copies;

  PageBuffers buffers;
  buffers.packed = allocate<uint8_t>(page.packedSize);
  if (!buffers.packed)
    return false;
  std::memset(buffers.packed.get(), 0, page.packedSize);
  if (!pack_page(doc, model, raster, buffers.packed.get()))
    return false;
  // The grey page is eight times the packed one and no longer needed: let it
  // go before the compressed data and the text are taken.
  raster.grey.reset();

  // zlib's bound always holds the whole stream, even for a page that
  // hardly compresses.
  uLongf comprLen = compressBound(page.packedSize);
  WriteLog("Len:%ld\n", static_cast<long>(comprLen));
  buffers.compressed = allocate<uint8_t>(comprLen);
  if (!buffers.compressed)
    return false;
  const int err = compress(buffers.compressed.get(), &comprLen, buffers.packed.get(), page.packedSize);
  const char* zdata = reinterpret_cast<const char*>(buffers.compressed.get());
  WriteLog("pZlib1:%.*s\n", static_cast<int>(strnlen(zdata, comprLen)), zdata);
  WriteLog("comprLen:%ld\n", static_cast<long>(comprLen));
  WriteLog("err:%d\n", err);
  // With the buffer at zlib's bound, only a lack of memory makes it fail;
  // a label with an empty graphic would print blank, so end as for any
  // other allocation.
  if (err == Z_MEM_ERROR)
    return false;

  page.textLen = static_cast<int32_t>(base64_length(comprLen));
  WriteLog("base64Len == %d", page.textLen);
  buffers.text = allocate<char>(static_cast<uint64_t>(page.textLen));
  if (!buffers.text)
    return false;
  WriteLog("Base64Encode Start");
  Base64Encode(buffers.compressed.get(), static_cast<int64_t>(comprLen), buffers.text.get());
  WriteLog("Base64Encode End");
  WriteLog("base64Buffer %u", page.textLen > 0 ? static_cast<unsigned>(static_cast<uint8_t>(buffers.text[0])) : 0u);
  page.crc = GetCRC16(buffers.text.get(), page.textLen);
  WriteLog("crc %ld", static_cast<long>(page.crc));

  // A page converted while the job was cancelled is dropped whole.
  if (cancelled && *cancelled)
    return false;
  write_label(doc, model, page, buffers, out, scratch);
  return true;
}
