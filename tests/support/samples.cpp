// ZPL and not-ZPL files on which every recogniser of ZPL must agree: CUPS
// with our MIME rules, zplpass and the printer application.
#include "support.h"

std::string hex_label(size_t graphicBytes, bool dottedLine, std::string_view lineEnd)
{
  const std::string count = std::to_string(graphicBytes);
  std::string label = (dottedLine ? kDottedLineSwitch + '\0' : "") + "^XA^FO0,0^GFA," + count + "," + count + ",8,";
  for (size_t i = 0; i < graphicBytes; ++i)
    label += "0123456789ABCDEF"[i % 16];
  return label + "^FS^XZ" + std::string(lineEnd);
}

const std::vector<ZplSample>& zpl_samples()
{
  static const std::vector<ZplSample> samples = {
      {"label", "^XA^FO50,50^A0N,40,40^FDShip to^FS^XZ\r\n", 1},
      {"darkness first", "~SD15\r\n^XA^FO10,10^A0N,30,30^FDShip to^FS^XZ\r\n", 1},
      {"white space first", " \r\n\t^XA^FDa^FS^XZ\n^XA^FDb^FS^XZ\n", 2},
      {"format command first", "^MN^XA^LH0,0^XZ", 1},
      {"font command first", "^A@N,30,30^XA^XZ", 1},
      {"ZebraDesigner", "CT~~CD,~CC^~CT~\r\n^XA~TA000~JSN^LT0^MNW^XZ\r\n^XA^FDx^FS^PQ1,0,1,Y^XZ\r\n", 2},
      {"lower case", "^xa^fo5,5^fdlabel^fs^xz", 1},
      {"dotted line off", kDottedLineSwitch + '\0' + "^MN^XA^FDx^FS^XZ\r\n", 1},
      {"dotted line on", kDottedLineSwitch + '\1' + "^MN^XA^FDx^FS^XZ\r\n", 1},
      {"no line ends", hex_label(10, false, "") + hex_label(20, true, "") + "^XA^XZ", 3},
      {"ZPL mentioned in field data", "^XA^FDtext with ~ and XZ^FS^XZ\r\n", 1},
  };
  return samples;
}

const std::vector<ZplSample>& not_zpl_samples()
{
  static const std::vector<ZplSample> samples = [] {
    const std::string pdf = read_file(build_paths().samplePdf);
    EXPECT_FALSE(pdf.empty()) << build_paths().samplePdf;
    return std::vector<ZplSample>{
        {"empty", "", 0},
        {"plain text", "Dear customer,\nyour parcel is on its way.\n", 0},
        {"commands but no label", "~SD15\r\n^FXno format here\r\n", 0},
        {"fields but no label start", "^FO10,10^FDno label start", 0},
        {"ZebraDesigner line alone", "CT~~CD,~CC^~CT~ no label", 0},
        {"space inside a command", "^ XA^XZ", 0},
        {"half a command", "^X", 0},
        {"PDF", pdf, 0},
        {"PDF with a label start inside", pdf + "^XA^FDx^FS^XZ", 0},
        {"image", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) + "^XA^XZ", 0},
        {"CUPS raster", "RaS2", 0},
        {"switch cut short", kDottedLineSwitch.substr(0, 3) + "^XA^XZ", 0},
        {"switch alone", kDottedLineSwitch, 0},
        {"switch and its value alone", kDottedLineSwitch + '\0', 0},
        {"null byte first", std::string("\0^XA^XZ", 7), 0},
    };
  }();
  return samples;
}
