#include "quality/decode.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>

namespace {

// One attempt with the given hints; "" when nothing valid reads.
std::string read_once(const Plane& plane, const ZXing::DecodeHints& hints)
{
  const ZXing::ImageView view(plane.px.data(), static_cast<int>(plane.width), static_cast<int>(plane.height),
                              ZXing::ImageFormat::Lum);
  const ZXing::Result result = ZXing::ReadBarcode(view, hints);
  if (!result.isValid())
    return {};
  std::string text = result.text();
  text.erase(std::remove(text.begin(), text.end(), '\x1d'), text.end());
  return text;
}

}  // namespace

std::string decode_barcode(const Plane& plane, const std::string& format)
{
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormatFromString(format));
  hints.setTryHarder(true);
  hints.setTryRotate(false);
  std::string text = read_once(plane, hints);
  // zxing finds MaxiCode only in a crop that holds the symbol alone.
  if (text.empty() && format == "MaxiCode") {
    hints.setIsPure(true);
    text = read_once(plane, hints);
  }
  return text;
}
