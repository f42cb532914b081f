// Pages as planes of 8-bit grey in the raster's own frame (top row first,
// 255 white), whatever they came as: the 8-bit raster CUPS makes for our
// filter, the 1-bit raster it hands to rastertolabel, or the dots of our
// labels. A label's graphic is the page as the raster held it; the printer
// turns it by 180 degrees (^POI) only when it prints, so no turn is undone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Plane {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> px;  // width * height
  uint8_t at(uint32_t x, uint32_t y) const { return px[size_t(y) * width + x]; }
};

// A rectangle of dots, clipped to a plane by crop().
struct Box {
  int32_t x = 0, y = 0, w = 0, h = 0;
};

// The pages of a CUPS raster file: 8-bit grey (colour space W) as it is,
// 1-bit black (colour space K) as 0 for a set bit and 255 else. False with
// the reason in error for any other kind or a file that can't be read.
bool read_raster_planes(const std::string& path, std::vector<Plane>& pages, unsigned& dpi, std::string& error);

// One label of a filter's output: its dots, and the characters its graphic
// data took from :Z64: to the CRC.
struct LabelPage {
  Plane dots;
  uint64_t z64Bytes = 0;
};

// The labels of a ZPL file, each graphic's dots drawn at its ^FO on a plane
// of width x height (the raster's page). False with the reason in error
// when a label is not sound or holds no graphic.
bool read_label_planes(const std::string& path, uint32_t width, uint32_t height, std::vector<LabelPage>& labels,
                       std::string& error);

// The box clipped to the plane.
Box clip(const Plane& plane, Box box);

// The pixels of a box of the plane (clipped first).
Plane crop(const Plane& plane, Box box);

// The plane blurred by a Gaussian of the given sigma in dots, as floats in
// grey levels. Outside the plane counts as white paper.
std::vector<float> gaussian_blur(const Plane& plane, double sigma);

// Writes 8-bit grey PNG. False with the reason in error.
bool write_grey_png(const std::string& path, const Plane& plane, std::string& error);
