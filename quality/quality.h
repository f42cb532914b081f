// The print-quality measurements: what the job holds (layout.tsv, written
// by quality/pages.sh), the prints compared with the raster, and what was
// measured on them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quality/planes.h"

// One element of a page, as pages.sh placed it. Positions in points from
// the page's top left.
struct Item {
  int page = 0;            // 1 for the first page of the job
  std::string name;        // "code128-0.25", "patch-35", "photo"
  std::string kind;        // vector, dots, scaled, smooth, jpeg, grey
  std::string type;        // barcode, ramp, patch, photo, logo
  std::string format;      // zxing's name of the symbology
  std::string text;        // what a reader must give; a patch's percentage
  double x = 0, y = 0, w = 0, h = 0;
  double moduleMm = 0;     // the module as drawn, 0 when none
  std::string pattern;     // the first row's modules of a Code 128, as 0 and 1
};

// A print of the job: the dots of our labels in one mode, or the 1-bit
// raster CUPS hands to rastertolabel.
struct Print {
  std::string name;
  bool label = false;               // one of our filter's outputs
  std::vector<Plane> pages;
  std::vector<uint64_t> z64Bytes;   // per page, labels only
};

// Whether each print reads a barcode, against the raster.
struct DecodeRow {
  const Item* item = nullptr;
  bool raster = false;
  std::vector<bool> reads;  // per print
};

// Code 128 bars and spaces against their drawn widths, in dots.
struct Growth {
  bool measured = false;   // the bars could be told apart on most rows
  double bars = 0;         // mean width gained by a bar
  double spaces = 0;       // mean width gained by a space
};
struct GrowthRow {
  const Item* item = nullptr;
  Growth raster;
  std::vector<Growth> prints;
};

// Grey error of each print on the grey page, after the blur.
struct GreyResult {
  bool present = false;
  std::vector<std::string> parts;               // ramp, patches, photo, logo, all
  std::vector<std::vector<double>> error;       // [print][part], grey levels
  std::vector<int> patchPercent;                // nominal darkness of each patch
  std::vector<double> rasterTone;               // mean grey of each patch in the raster
  std::vector<std::vector<double>> tone;        // [print][patch] as printed, after the blur
  std::vector<int> toldApart;                   // [print]
  int rasterToldApart = 0;
};

// :Z64: characters of each label, per print that is a label.
struct BytesRow {
  int page = 0;
  std::string what;                  // "vector, linear" or "grey"
  bool barcodes = false;
  std::vector<uint64_t> bytes;       // per print; 0 for prints that are not labels
};

// Everything measured at one resolution.
struct Measurements {
  unsigned dpi = 0;
  std::vector<Print> prints;
  std::vector<DecodeRow> decodes;
  std::vector<GrowthRow> growth;
  GreyResult grey;
  std::vector<BytesRow> bytes;
};

// Two patches are told apart when their printed tones, after the blur,
// differ by at least this many grey levels (a third of the 10 % step).
inline constexpr double kToneStep = 8.0;

// Blur of the eye, in dots.
inline constexpr double kEyeSigma = 1.5;

// Writes the measurements of one resolution as Markdown: tables, then the
// goals with their verdicts. Also appends "dpi goal value verdict" lines to
// the goals file for the summary.
bool write_report(const Measurements& m, const std::string& markdownPath, const std::string& goalsPath,
                  std::string& error);
