// The job's Horizontal and Vertical offsets, in printer dots, as the raster
// is read: a positive offset moves the artwork right or down through the
// field origin, a negative one drops the leading columns or rows of the page.
// The settings record keeps the offsets as the user gave them; both the field
// origin and the crop are derived here, so that every front end filling a
// LabelDoc gets the same label, and a page packer never sees an offset.
#pragma once

#include <cstdint>

#include "raster/raster.h"

struct FieldOrigin {
  int32_t x;
  int32_t y;
};

// The largest field origin a printer takes: a graphic further away prints
// nothing either way.
inline constexpr int32_t kMaxFieldOrigin = 32000;

// The ^FO position of the graphic: the record's origin moved by the positive
// parts of the offsets, at most kMaxFieldOrigin.
FieldOrigin field_origin(const LabelDoc* doc);

// Drops the first |horizontal| columns and |vertical| rows of the page for
// negative offsets, in place; at least one column and one row stay. The page
// keeps its buffer, with width, height and stride of the rest, and its
// pixels right of the new width white. Nothing changes for offsets >= 0.
void crop_for_offsets(const LabelDoc* doc, RasterPage& page);
