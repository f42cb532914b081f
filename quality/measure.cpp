// zpl-quality: measures what the prints of the quality job make of it.
//
//   zpl-quality --layout layout.tsv --raster ours.ras
//               --label Threshold=t.zpl --label Auto=a.zpl ...
//               --bitmap rastertolabel=cupslabel.ras
//               --out report.md --goals goals.tsv [--png picture.png]
//               [--logo-png picture.png] [--crops folder]
//
// The 8-bit raster CUPS made for our filter is the truth: what reads from
// it must read from every print, and the grey page is compared with it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "quality/decode.h"
#include "quality/quality.h"

namespace {

struct Args {
  std::string layout, raster, out, goals, png, logoPng, crops;
  std::vector<std::pair<std::string, std::string>> labels, bitmaps;  // name, file
};

bool split_named(const char* arg, std::vector<std::pair<std::string, std::string>>& into)
{
  const std::string text = arg;
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0)
    return false;
  into.emplace_back(text.substr(0, eq), text.substr(eq + 1));
  return true;
}

bool parse_args(int argc, char** argv, Args& args)
{
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--layout") args.layout = value;
    else if (flag == "--raster") args.raster = value;
    else if (flag == "--out") args.out = value;
    else if (flag == "--goals") args.goals = value;
    else if (flag == "--png") args.png = value;
    else if (flag == "--logo-png") args.logoPng = value;
    else if (flag == "--crops") args.crops = value;
    else if (flag == "--label") { if (!split_named(value, args.labels)) return false; }
    else if (flag == "--bitmap") { if (!split_named(value, args.bitmaps)) return false; }
    else return false;
  }
  return argc % 2 == 1 && !args.layout.empty() && !args.raster.empty() && !args.out.empty() && !args.goals.empty();
}

// Reads layout.tsv: page, name, kind, type, format, text, x, y, w, h, module, pattern.
bool read_layout(const std::string& path, std::vector<Item>& items, std::string& error)
{
  std::ifstream in(path);
  if (!in) {
    error = "can't read " + path;
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t'))
      f.push_back(field);
    if (f.size() != 12) {
      error = path + ": a line without 12 fields: " + line;
      return false;
    }
    Item item;
    item.page = std::atoi(f[0].c_str());
    item.name = f[1], item.kind = f[2], item.type = f[3], item.format = f[4], item.text = f[5];
    item.x = std::atof(f[6].c_str()), item.y = std::atof(f[7].c_str());
    item.w = std::atof(f[8].c_str()), item.h = std::atof(f[9].c_str());
    item.moduleMm = f[10] == "-" ? 0 : std::atof(f[10].c_str());
    item.pattern = f[11] == "-" ? "" : f[11];
    items.push_back(item);
  }
  return !items.empty() || (error = path + " is empty", false);
}

// The item's box in dots, grown by margin millimetres on every side.
Box box_of(const Item& item, unsigned dpi, double marginMm)
{
  const double k = dpi / 72.0, m = marginMm * dpi / 25.4;
  const double x0 = item.x * k - m, y0 = item.y * k - m;
  const double x1 = (item.x + item.w) * k + m, y1 = (item.y + item.h) * k + m;
  const int32_t bx = static_cast<int32_t>(std::floor(x0)), by = static_cast<int32_t>(std::floor(y0));
  return {bx, by, static_cast<int32_t>(std::ceil(x1)) - bx, static_cast<int32_t>(std::ceil(y1)) - by};
}

// The quiet zone kept around a symbol when it is cut out for the reader.
constexpr double kQuietMm = 3.0;

const Plane* page_of(const std::vector<Plane>& pages, const Item& item)
{
  return item.page >= 1 && size_t(item.page) <= pages.size() ? &pages[item.page - 1] : nullptr;
}

// Whether the barcode reads from the print. With a crops folder, a symbol
// that does not read is kept there as a picture, named after the print.
bool reads(const std::vector<Plane>& pages, const Item& item, unsigned dpi, const std::string& crops,
           const std::string& printName)
{
  const Plane* page = page_of(pages, item);
  if (!page)
    return false;
  const Plane cut = crop(*page, box_of(item, dpi, kQuietMm));
  if (decode_barcode(cut, item.format) == item.text)
    return true;
  if (!crops.empty()) {
    std::string file = crops + "/" + item.name + "-" + item.kind + "-" + printName + ".png", error;
    for (char& c : file)
      c = c == ' ' || c == ',' ? '_' : c;
    write_grey_png(file, cut, error);
  }
  return false;
}

// The runs of black (below mid grey) along one row of a plane.
std::vector<std::pair<int32_t, int32_t>> black_runs(const Plane& plane, uint32_t y)
{
  std::vector<std::pair<int32_t, int32_t>> runs;  // start, length
  int32_t start = -1;
  for (uint32_t x = 0; x <= plane.width; ++x) {
    const bool black = x < plane.width && plane.at(x, y) < 128;
    if (black && start < 0)
      start = static_cast<int32_t>(x);
    if (!black && start >= 0) {
      runs.emplace_back(start, static_cast<int32_t>(x) - start);
      start = -1;
    }
  }
  return runs;
}

// Bars and spaces of a Code 128 against the widths its modules give, over
// the rows of the middle half of the symbol. A row whose bar count is not
// the drawn one (bars merged or broken) is left out; with fewer than half
// the rows left the symbol is not measured.
Growth bar_growth(const Plane& page, const Item& item, unsigned dpi)
{
  std::vector<int> modules;  // alternating bar and space widths in modules, bar first
  bool inBar = false;
  for (char c : item.pattern) {
    const bool bar = c == '1';
    if (modules.empty() && !bar)
      continue;
    if (modules.empty() || bar != inBar)
      modules.push_back(0);
    ++modules.back();
    inBar = bar;
  }
  if (!inBar && !modules.empty())
    modules.pop_back();  // the zeros after the last bar
  const size_t bars = (modules.size() + 1) / 2;
  const double dotsPerModule = item.moduleMm * dpi / 25.4;

  const Box symbol = box_of(item, dpi, 0);
  const Plane strip = crop(page, {symbol.x - 8, symbol.y + symbol.h / 4, symbol.w + 16, symbol.h / 2});
  Growth growth;
  double barSum = 0, spaceSum = 0;
  size_t barCount = 0, spaceCount = 0;
  int rowsUsed = 0;
  for (uint32_t y = 0; y < strip.height; ++y) {
    const auto runs = black_runs(strip, y);
    if (runs.size() != bars)
      continue;
    ++rowsUsed;
    for (size_t i = 0; i < runs.size(); ++i) {
      barSum += runs[i].second - modules[2 * i] * dotsPerModule;
      ++barCount;
      if (i + 1 < runs.size()) {
        const int32_t space = runs[i + 1].first - runs[i].first - runs[i].second;
        spaceSum += space - modules[2 * i + 1] * dotsPerModule;
        ++spaceCount;
      }
    }
  }
  growth.measured = strip.height > 0 && rowsUsed * 2 >= static_cast<int>(strip.height);
  if (growth.measured) {
    growth.bars = barSum / barCount;
    growth.spaces = spaceCount ? spaceSum / spaceCount : 0;
  }
  return growth;
}

// Mean absolute difference of two blurred planes over a box.
double box_error(const std::vector<float>& a, const std::vector<float>& b, uint32_t width, Box box, double& pixels)
{
  double sum = 0;
  for (int32_t y = box.y; y < box.y + box.h; ++y)
    for (int32_t x = box.x; x < box.x + box.w; ++x)
      sum += std::fabs(a[size_t(y) * width + x] - b[size_t(y) * width + x]);
  pixels = double(box.w) * box.h;
  return pixels > 0 ? sum / pixels : 0;
}

double box_mean(const std::vector<float>& a, uint32_t width, Box box)
{
  double sum = 0;
  for (int32_t y = box.y; y < box.y + box.h; ++y)
    for (int32_t x = box.x; x < box.x + box.w; ++x)
      sum += a[size_t(y) * width + x];
  return box.w > 0 && box.h > 0 ? sum / (double(box.w) * box.h) : 255;
}

// Patches, in order of darkness, that differ from the one before by a step
// the eye tells apart, counting the first.
int told_apart(const std::vector<double>& tones)
{
  int count = tones.empty() ? 0 : 1;
  for (size_t i = 1; i < tones.size(); ++i)
    count += tones[i - 1] - tones[i] >= kToneStep;
  return count;
}

// The grey page: error of each print against the raster after the eye's
// blur, per part and over all parts, and the tones of the patches.
GreyResult measure_grey(const std::vector<Item>& items, const std::vector<Plane>& raster,
                        const std::vector<Print>& prints, unsigned dpi)
{
  GreyResult r;
  int page = 0;
  for (const Item& item : items)
    if (item.kind == "grey")
      page = item.page;
  if (page == 0 || size_t(page) > raster.size())
    return r;
  r.present = true;
  r.parts = {"ramp", "patch", "photo", "logo", "all"};
  const Plane& truthPage = raster[page - 1];
  const std::vector<float> truth = gaussian_blur(truthPage, kEyeSigma);
  const double patchInsetMm = -2.0;
  for (const Item& item : items) {
    if (item.page == page && item.type == "patch") {
      r.patchPercent.push_back(std::atoi(item.text.c_str()));
      r.rasterTone.push_back(box_mean(truth, truthPage.width, clip(truthPage, box_of(item, dpi, patchInsetMm))));
    }
  }
  r.rasterToldApart = told_apart(r.rasterTone);
  for (const Print& print : prints) {
    std::vector<double> sums(r.parts.size(), 0), pixels(r.parts.size(), 0);
    std::vector<double> tones;
    if (size_t(page) > print.pages.size()) {
      r.error.push_back({});
      r.tone.push_back({});
      r.toldApart.push_back(0);
      continue;
    }
    const std::vector<float> seen = gaussian_blur(print.pages[page - 1], kEyeSigma);
    for (const Item& item : items) {
      if (item.page != page)
        continue;
      for (size_t p = 0; p + 1 < r.parts.size(); ++p) {
        if (item.type != r.parts[p])
          continue;
        double n = 0;
        const double e = box_error(seen, truth, truthPage.width, clip(truthPage, box_of(item, dpi, 0)), n);
        sums[p] += e * n, pixels[p] += n;
        sums.back() += e * n, pixels.back() += n;
      }
      if (item.type == "patch")
        tones.push_back(box_mean(seen, truthPage.width, clip(truthPage, box_of(item, dpi, patchInsetMm))));
    }
    std::vector<double> error(r.parts.size());
    for (size_t p = 0; p < r.parts.size(); ++p)
      error[p] = pixels[p] > 0 ? sums[p] / pixels[p] : 0;
    r.error.push_back(error);
    r.toldApart.push_back(told_apart(tones));
    r.tone.push_back(tones);
  }
  return r;
}

// The label bytes of every page, per print that is a label.
std::vector<BytesRow> measure_bytes(const std::vector<Item>& items, const std::vector<Print>& prints)
{
  std::vector<BytesRow> rows;
  for (const Item& item : items) {
    if (!rows.empty() && rows.back().page == item.page)
      continue;
    BytesRow row;
    row.page = item.page;
    row.barcodes = item.type == "barcode";
    row.what = row.barcodes ? item.kind + (item.format == "Code128" || item.format == "ITF" ? ", linear" : ", matrix")
                            : std::string("grey");
    for (const Print& print : prints)
      row.bytes.push_back(print.label && size_t(item.page) <= print.z64Bytes.size() ? print.z64Bytes[item.page - 1] : 0);
    rows.push_back(row);
  }
  return rows;
}

// A part of the grey page in millimetres from its top left, and how the
// prints' copies of it are laid out: side by side or one under the other.
struct PicturePart {
  double x, y, w, h;
  bool stacked;
};

// The picture of a part of the grey page: the same part from every print,
// dot for dot, with a white gap between them.
bool write_grey_picture(const std::string& path, const std::vector<Item>& items, const std::vector<Print>& prints,
                        unsigned dpi, PicturePart where, std::string& error)
{
  int page = 0;
  for (const Item& item : items)
    if (item.kind == "grey")
      page = item.page;
  if (page == 0)
    return true;
  const double k = dpi / 25.4;
  const Box part{static_cast<int32_t>(where.x * k), static_cast<int32_t>(where.y * k),
                 static_cast<int32_t>(where.w * k), static_cast<int32_t>(where.h * k)};
  const int32_t gap = static_cast<int32_t>(2 * k);
  const uint32_t n = static_cast<uint32_t>(prints.size());
  Plane picture;
  picture.width = where.stacked ? part.w : n * (part.w + gap) - gap;
  picture.height = where.stacked ? n * (part.h + gap) - gap : part.h;
  picture.px.assign(size_t(picture.width) * picture.height, 255);
  for (uint32_t i = 0; i < n; ++i) {
    if (size_t(page) > prints[i].pages.size())
      continue;
    const Plane cut = crop(prints[i].pages[page - 1], part);
    const size_t left = where.stacked ? 0 : size_t(i) * (part.w + gap);
    const size_t top = where.stacked ? size_t(i) * (part.h + gap) : 0;
    for (uint32_t y = 0; y < cut.height; ++y)
      for (uint32_t x = 0; x < cut.width; ++x)
        picture.px[(top + y) * picture.width + left + x] = cut.at(x, y);
  }
  return write_grey_png(path, picture, error);
}

}  // namespace

int main(int argc, char** argv)
{
  Args args;
  if (!parse_args(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: zpl-quality --layout L --raster R.ras [--label NAME=F.zpl]... [--bitmap NAME=F.ras]...\n"
                 "                   --out report.md --goals goals.tsv [--png picture.png]\n"
                 "                   [--logo-png picture.png] [--crops folder]\n");
    return 2;
  }
  std::string error;
  std::vector<Item> items;
  Measurements m;
  std::vector<Plane> raster;
  if (!read_layout(args.layout, items, error) || !read_raster_planes(args.raster, raster, m.dpi, error)) {
    std::fprintf(stderr, "zpl-quality: %s\n", error.c_str());
    return 1;
  }
  for (const auto& [name, file] : args.labels) {
    Print print;
    print.name = name;
    print.label = true;
    std::vector<LabelPage> labels;
    if (!read_label_planes(file, raster[0].width, raster[0].height, labels, error)) {
      std::fprintf(stderr, "zpl-quality: %s\n", error.c_str());
      return 1;
    }
    for (LabelPage& label : labels) {
      print.pages.push_back(std::move(label.dots));
      print.z64Bytes.push_back(label.z64Bytes);
    }
    m.prints.push_back(std::move(print));
  }
  for (const auto& [name, file] : args.bitmaps) {
    Print print;
    print.name = name;
    unsigned dpi = 0;
    if (!read_raster_planes(file, print.pages, dpi, error)) {
      std::fprintf(stderr, "zpl-quality: %s\n", error.c_str());
      return 1;
    }
    if (dpi != m.dpi || print.pages[0].width != raster[0].width || print.pages[0].height != raster[0].height) {
      std::fprintf(stderr, "zpl-quality: %s is not the raster's page size and resolution\n", file.c_str());
      return 1;
    }
    m.prints.push_back(std::move(print));
  }
  for (const Print& print : m.prints)
    if (print.pages.size() != raster.size())
      std::fprintf(stderr, "zpl-quality: %s has %zu pages, the raster %zu\n", print.name.c_str(), print.pages.size(),
                   raster.size());

  for (const Item& item : items) {
    if (item.type != "barcode")
      continue;
    DecodeRow row;
    row.item = &item;
    row.raster = reads(raster, item, m.dpi, args.crops, "raster");
    for (const Print& print : m.prints)
      row.reads.push_back(reads(print.pages, item, m.dpi, args.crops, print.name));
    m.decodes.push_back(row);
    if (!item.pattern.empty()) {
      GrowthRow g;
      g.item = &item;
      if (const Plane* page = page_of(raster, item))
        g.raster = bar_growth(*page, item, m.dpi);
      for (const Print& print : m.prints) {
        const Plane* page = page_of(print.pages, item);
        g.prints.push_back(page ? bar_growth(*page, item, m.dpi) : Growth{});
      }
      m.growth.push_back(g);
    }
  }
  m.grey = measure_grey(items, raster, m.prints, m.dpi);
  m.bytes = measure_bytes(items, m.prints);

  if (!args.png.empty()) {
    std::vector<Print> shown;
    Print truth;
    truth.name = "raster";
    truth.pages = raster;
    shown.push_back(std::move(truth));
    for (const Print& print : m.prints)
      shown.push_back(print);
    // The ramp, the patches and the top of the photograph; the logo.
    if (!write_grey_picture(args.png, items, shown, m.dpi, {4, 5, 60, 70, false}, error) ||
        (!args.logoPng.empty() &&
         !write_grey_picture(args.logoPng, items, shown, m.dpi, {5, 123, 91.6, 25, true}, error))) {
      std::fprintf(stderr, "zpl-quality: %s\n", error.c_str());
      return 1;
    }
  }
  if (!write_report(m, args.out, args.goals, error)) {
    std::fprintf(stderr, "zpl-quality: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
