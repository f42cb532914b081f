#include "zplread/report.h"

#include <cstdio>

#include "common/profile.h"

namespace {

std::string side(int64_t dots) { return dots > 0 ? std::to_string(dots) : "?"; }

std::string millimetres(int64_t dots, double dotsPerMm)
{
  if (dots <= 0)
    return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(dots) / dotsPerMm);
  return text;
}

std::string or_dash(const std::string& value) { return value.empty() ? "-" : value; }

}  // namespace

std::string describe_label(const Label& label, int dpi)
{
  std::string line = "label " + std::to_string(label.number) + ": " + side(label.width) + "x" +
                     side(label.length) + " dots";
  if (const ModelProfile* model = find_model(dpi)) {
    const double dotsPerMm = model->dotsPerMm;
    line += " (" + millimetres(label.width, dotsPerMm) + "x" + millimetres(label.length, dotsPerMm) + " mm)";
  }
  line += ", speed " + or_dash(label.speed) + ", darkness " + or_dash(label.darkness) + ", copies " +
          std::to_string(label.copies);

  uint64_t raw = 0, sent = 0;
  for (const Graphic& g : label.graphics) {
    raw += g.fieldCount;
    sent += g.sentBytes;
  }
  if (label.graphics.empty())
    line += ", no graphic";
  else
    line += std::string(", ") + (label.graphics.size() > 1 ? std::to_string(label.graphics.size()) + " graphics " : "graphic ") +
            std::to_string(raw) + " bytes raw, " + std::to_string(sent) + " sent";

  if (label.dottedLine == 0 || label.dottedLine == 1)
    line += label.dottedLine ? ", dotted line on" : ", dotted line off";
  else if (label.dottedLine > 1)
    line += ", dotted line " + std::to_string(label.dottedLine);

  if (!label.notDrawn.empty()) {
    line += ", not drawn:";
    for (const std::string& name : label.notDrawn)
      line += " " + name;
  }

  if (label.faults.empty())
    return line + "; OK";
  line += "; FAULT:";
  for (size_t i = 0; i < label.faults.size(); ++i)
    line += (i ? "; " : " ") + label.faults[i];
  return line;
}
