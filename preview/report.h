// The one line zplpreview prints for each label.
#pragma once

#include <string>

#include "preview/zpl_parse.h"

// "label 1: 708x472 dots (60.0x40.0 mm), speed 4, darkness 7, copies 1,
// graphic 42008 bytes raw, 1362 sent, dotted line off, not drawn: ^MN ^MM
// ^LS; OK", or the faults in place of OK. dpi is 203 or 300 for the size in
// millimetres, 0 for none.
std::string describe_label(const Label& label, int dpi);
