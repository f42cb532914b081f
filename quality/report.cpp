// The measurements of one resolution as Markdown tables and goal verdicts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "quality/quality.h"

namespace {

std::string fixed(double value, int decimals)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string signed_fixed(double value, int decimals)
{
  char text[32];
  std::snprintf(text, sizeof text, "%+.*f", decimals, value);
  return text;
}

// The index of the print of that name, or -1.
int print_index(const Measurements& m, const std::string& name)
{
  for (size_t i = 0; i < m.prints.size(); ++i)
    if (m.prints[i].name == name)
      return static_cast<int>(i);
  return -1;
}

// "| a | b |" header and its rule, with the prints as the last columns.
void table_head(std::ostream& out, const std::vector<std::string>& first, const Measurements& m, bool labelsOnly,
                const std::vector<std::string>& last = {})
{
  std::string head = "|", rule = "|";
  for (const std::string& c : first)
    head += " " + c + " |", rule += "---|";
  for (const Print& p : m.prints) {
    if (labelsOnly && !p.label)
      continue;
    head += " " + p.name + " |", rule += "---:|";
  }
  for (const std::string& c : last)
    head += " " + c + " |", rule += "---:|";
  out << head << "\n" << rule << "\n";
}

void decode_table(std::ostream& out, const Measurements& m)
{
  out << "Barcodes read by zxing-cpp, each cut out of its page with a 3 mm quiet zone; \"no\" marks a print that\n"
         "loses a barcode the raster reads.\n\n";
  table_head(out, {"Symbol", "Art", "raster"}, m, false);
  for (const DecodeRow& row : m.decodes) {
    out << "| " << row.item->name << " | " << row.item->kind << " | " << (row.raster ? "yes" : "no") << " |";
    for (bool r : row.reads)
      out << " " << (r ? "yes" : (row.raster ? "**no**" : "no")) << " |";
    out << "\n";
  }
  out << "\n";
}

std::string growth_cell(const Growth& g)
{
  return g.measured ? signed_fixed(g.bars, 2) + " / " + signed_fixed(g.spaces, 2) : "bars merged";
}

void growth_table(std::ostream& out, const Measurements& m)
{
  out << "Code 128 bars and spaces against their drawn widths, in dots (bars / spaces; the mean over every bar of\n"
         "the middle half of the symbol's rows). Whole-dot bitmaps are drawn at their own whole-dot module.\n\n";
  table_head(out, {"Symbol", "Art", "module, dots", "raster"}, m, false);
  for (const GrowthRow& row : m.growth) {
    out << "| " << row.item->name << " | " << row.item->kind << " | " << fixed(row.item->moduleMm * m.dpi / 25.4, 2)
        << " | " << growth_cell(row.raster) << " |";
    for (const Growth& g : row.prints)
      out << " " << growth_cell(g) << " |";
    out << "\n";
  }
  out << "\n";
}

void grey_tables(std::ostream& out, const Measurements& m)
{
  const GreyResult& g = m.grey;
  out << "Grey error: both the print and the 8-bit raster blurred by a Gaussian of sigma " << fixed(kEyeSigma, 1)
      << " dots, then the mean\nabsolute difference in grey levels (0 to 255) over each part of the grey page. "
         "Patches told apart: of the ten,\nhow many differ from the next lighter one by at least "
      << fixed(kToneStep, 0) << " grey levels after the blur (the raster: " << g.rasterToldApart << ").\n\n";
  out << "| Print | ramp | patches | photograph | logo | whole grey art | patches told apart |\n";
  out << "|---|---:|---:|---:|---:|---:|---:|\n";
  for (size_t i = 0; i < m.prints.size(); ++i) {
    if (g.error[i].empty())
      continue;
    out << "| " << m.prints[i].name << " |";
    for (double e : g.error[i])
      out << " " << fixed(e, 1) << " |";
    out << " " << g.toldApart[i] << " |\n";
  }
  out << "\nTone of each patch after the blur (grey level, 255 white):\n\n";
  table_head(out, {"Patch", "raster"}, m, false);
  for (size_t p = 0; p < g.patchPercent.size(); ++p) {
    out << "| " << g.patchPercent[p] << " % | " << fixed(g.rasterTone[p], 0) << " |";
    for (const std::vector<double>& tones : g.tone)
      out << " " << (p < tones.size() ? fixed(tones[p], 0) : "-") << " |";
    out << "\n";
  }
  out << "\n";
}

// Auto's bytes over Threshold's for one page, or 0 without both.
double bytes_ratio(const Measurements& m, const BytesRow& row, const std::string& mode)
{
  const int a = print_index(m, mode), t = print_index(m, "Threshold");
  return a >= 0 && t >= 0 && row.bytes[t] ? double(row.bytes[a]) / row.bytes[t] : 0;
}

void bytes_table(std::ostream& out, const Measurements& m)
{
  out << "Characters of each label's graphic data, from `:Z64:` to the CRC:\n\n";
  table_head(out, {"Page", "Art"}, m, true, {"Auto / Threshold", "Photo / Threshold"});
  for (const BytesRow& row : m.bytes) {
    out << "| " << row.page << " | " << row.what << " |";
    for (size_t i = 0; i < m.prints.size(); ++i)
      if (m.prints[i].label)
        out << " " << row.bytes[i] << " |";
    out << " " << fixed(bytes_ratio(m, row, "Auto"), 3) << " | " << fixed(bytes_ratio(m, row, "Photo"), 3) << " |\n";
  }
  out << "\n";
}

// One line per print: what it makes of the whole job.
void summary_table(std::ostream& out, const Measurements& m)
{
  int readable = 0;
  for (const DecodeRow& row : m.decodes)
    readable += row.raster;
  out << "| Print | barcodes read (of " << readable
      << " the raster reads) | Code 128 bars on vector art, worst growth | grey error | patches told apart | "
         ":Z64: bytes, all barcode labels | :Z64: bytes, grey page |\n|---|---:|---:|---:|---:|---:|---:|\n";
  for (size_t p = 0; p < m.prints.size(); ++p) {
    int read = 0;
    for (const DecodeRow& row : m.decodes)
      read += row.raster && row.reads[p];
    double worst = 0;
    bool merged = false;
    for (const GrowthRow& row : m.growth) {
      if (row.item->kind != "vector")
        continue;
      merged = merged || !row.prints[p].measured;
      if (row.prints[p].measured && std::fabs(row.prints[p].bars) > std::fabs(worst))
        worst = row.prints[p].bars;
    }
    uint64_t barcodeBytes = 0, greyBytes = 0;
    for (const BytesRow& row : m.bytes)
      (row.barcodes ? barcodeBytes : greyBytes) += row.bytes[p];
    out << "| " << m.prints[p].name << " | " << (m.decodes.empty() ? "-" : std::to_string(read)) << " | "
        << (m.growth.empty() ? "-" : merged ? "bars merged" : signed_fixed(worst, 2) + " dot") << " | "
        << (m.grey.present && !m.grey.error[p].empty() ? fixed(m.grey.error[p].back(), 1) : "-") << " | "
        << (m.grey.present ? std::to_string(m.grey.toldApart[p]) : "-") << " | "
        << (m.prints[p].label && barcodeBytes ? std::to_string(barcodeBytes) : "-") << " | "
        << (m.prints[p].label && greyBytes ? std::to_string(greyBytes) : "-") << " |\n";
  }
  out << "\n";
}

struct Goal {
  std::string what, measured;
  bool met = false;
  bool known = true;
};

// Barcodes the raster reads and the print does not.
Goal decode_goal(const Measurements& m, const std::string& mode)
{
  Goal goal{mode + ": every barcode the raster reads also reads from the label", "", false, false};
  const int p = print_index(m, mode);
  if (p < 0 || m.decodes.empty())
    return goal;
  int readable = 0, lost = 0;
  std::string which;
  for (const DecodeRow& row : m.decodes) {
    readable += row.raster;
    if (row.raster && !row.reads[p]) {
      ++lost;
      which += (which.empty() ? "" : ", ") + row.item->name + " (" + row.item->kind + ")";
    }
  }
  goal.known = true;
  goal.met = lost == 0;
  goal.measured = std::to_string(readable - lost) + " of " + std::to_string(readable) + (lost ? "; lost: " + which : "");
  return goal;
}

Goal growth_goal(const Measurements& m, const std::string& mode)
{
  Goal goal{mode + ": Code 128 bar growth within +-0.25 dot on vector art", "", false, false};
  const int p = print_index(m, mode);
  if (p < 0)
    return goal;
  double worst = 0;
  bool all = true, any = false;
  for (const GrowthRow& row : m.growth) {
    if (row.item->kind != "vector")
      continue;
    any = true;
    const Growth& g = row.prints[p];
    all = all && g.measured;
    if (g.measured && std::fabs(g.bars) > std::fabs(worst))
      worst = g.bars;
  }
  if (!any)
    return goal;
  goal.known = true;
  goal.met = all && std::fabs(worst) <= 0.25;
  goal.measured = all ? "worst " + signed_fixed(worst, 2) + " dot" : "bars merged";
  return goal;
}

// Grey error over one part of the grey page ("all" for the whole of it).
Goal grey_goal(const Measurements& m, const std::string& mode, const std::string& part, double limit)
{
  const std::string what = part == "all" ? "grey error" : part + " error";
  Goal goal{mode + ": " + what + " at most " + fixed(limit, limit == std::floor(limit) ? 0 : 1) + " levels", "",
            false, false};
  const int p = print_index(m, mode);
  const auto k = std::find(m.grey.parts.begin(), m.grey.parts.end(), part) - m.grey.parts.begin();
  if (p < 0 || !m.grey.present || size_t(k) >= m.grey.parts.size())
    return goal;
  const double e = m.grey.error[p][size_t(k)];
  goal = {goal.what, fixed(e, 1), e <= limit, true};
  return goal;
}

Goal patch_goal(const Measurements& m, const std::string& mode)
{
  Goal goal{mode + ": all ten patches told apart", "", false, false};
  const int p = print_index(m, mode);
  if (p < 0 || !m.grey.present)
    return goal;
  goal = {goal.what, std::to_string(m.grey.toldApart[p]) + " of 10", m.grey.toldApart[p] == 10, true};
  return goal;
}

// Noise in a barcode bitmap that lies on no edge is halftoned, and its stray
// dots cost bytes: barcode labels in Auto may send this many times
// Threshold's bytes at most.
constexpr double kBarcodeBytesLimit = 1.25;

Goal bytes_goal(const Measurements& m)
{
  Goal goal{"Auto: barcode labels at most " + fixed(kBarcodeBytesLimit, 2) + " times Threshold's bytes", "", false,
            false};
  double worst = 0;
  for (const BytesRow& row : m.bytes)
    if (row.barcodes)
      worst = std::max(worst, bytes_ratio(m, row, "Auto"));
  if (worst == 0)
    return goal;
  goal = {goal.what, "worst " + fixed(worst, 3), worst <= kBarcodeBytesLimit, true};
  return goal;
}

}  // namespace

bool write_report(const Measurements& m, const std::string& markdownPath, const std::string& goalsPath,
                  std::string& error)
{
  std::ostringstream out;
  const std::vector<Goal> goals = {
      decode_goal(m, "Auto"),  growth_goal(m, "Auto"),  grey_goal(m, "Auto", "all", 8),
      grey_goal(m, "Auto", "logo", 1.5),  patch_goal(m, "Auto"),  decode_goal(m, "Photo"),
      grey_goal(m, "Photo", "all", 6),  grey_goal(m, "Photo", "logo", 1.5),  patch_goal(m, "Photo"),
      bytes_goal(m),
  };
  out << "## " << m.dpi << " dpi\n\n### Goals\n\n| Goal | Measured | |\n|---|---|---|\n";
  for (const Goal& g : goals)
    out << "| " << g.what << " | " << (g.known ? g.measured : "not measured") << " | "
        << (g.known ? (g.met ? "met" : "**missed**") : "-") << " |\n";
  out << "\n### Every print\n\n";
  summary_table(out, m);
  if (m.grey.present) {
    out << "### Grey page\n\n";
    grey_tables(out, m);
  }
  if (!m.decodes.empty()) {
    out << "### Barcodes\n\n";
    decode_table(out, m);
    out << "### Code 128 bar widths\n\n";
    growth_table(out, m);
  }
  out << "### Bytes\n\n";
  bytes_table(out, m);

  std::ofstream md(markdownPath);
  md << out.str();
  std::ofstream tsv(goalsPath, std::ios::app);
  for (const Goal& g : goals)
    tsv << m.dpi << "\t" << g.what << "\t" << (g.known ? g.measured : "not measured") << "\t"
        << (g.known ? (g.met ? "met" : "missed") : "-") << "\n";
  if (!md || !tsv) {
    error = "can't write " + markdownPath + " or " + goalsPath;
    return false;
  }
  return true;
}
