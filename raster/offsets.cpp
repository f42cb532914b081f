// Offsets of the artwork on the label: the field origin and the crop.
#include "raster/offsets.h"

#include <algorithm>
#include <cstring>

#include "common/log.h"

namespace {

// Pixels to drop on an axis of size pixels for offset. Negated in 32 bits,
// since -32768 has no 16-bit opposite.
uint32_t dropped(int16_t offset, uint32_t size)
{
  if (offset >= 0 || size == 0)
    return 0;
  return std::min(static_cast<uint32_t>(-int32_t{offset}), size - 1);
}

int32_t moved(int16_t origin, int16_t offset)
{
  return std::min(int32_t{origin} + std::max(int32_t{offset}, 0), kMaxFieldOrigin);
}

}  // namespace

FieldOrigin field_origin(const LabelDoc* doc)
{
  return {moved(doc->originX, doc->horizontal), moved(doc->originY, doc->vertical)};
}

void crop_for_offsets(const LabelDoc* doc, RasterPage& page)
{
  const uint32_t columns = dropped(doc->horizontal, page.width);
  const uint32_t rows = dropped(doc->vertical, page.height);
  if (columns == 0 && rows == 0)
    return;

  const uint32_t width = page.width - columns;
  const uint32_t height = page.height - rows;
  const uint32_t stride = (width + 7) / 8 * 8;
  // Row y moves from y + rows at the old stride to y at the new one, which
  // is no wider: ascending rows never overwrite a row still to be moved.
  uint8_t* grey = page.grey.get();
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* to = grey + uint64_t{y} * stride;
    std::memmove(to, grey + (uint64_t{y} + rows) * page.stride + columns, width);
    std::memset(to + width, 255, stride - width);
  }
  WriteLog("offsets %d,%d: %u columns and %u rows dropped, %ux%u left", doc->horizontal, doc->vertical, columns,
           rows, width, height);
  page.width = width;
  page.height = height;
  page.stride = stride;
}
