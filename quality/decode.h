// Reading a barcode the way a scanner would, with zxing-cpp.
#pragma once

#include <string>

#include "quality/planes.h"

// The text of the one barcode of the given zxing format ("Code128",
// "DataMatrix", ...) found in the plane, or "" when none reads. Group
// separators of GS1 data are dropped, so GS1 text compares as its digits
// and letters.
std::string decode_barcode(const Plane& plane, const std::string& format);
