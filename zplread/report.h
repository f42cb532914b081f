// The one line that tells what a label is: zplpreview prints it for each
// label, the virtual printer logs it for each label it takes.
#pragma once

#include <string>

#include "zplread/zpl_parse.h"

// "label 1: 708x472 dots (60.0x40.0 mm), speed 4, darkness 7, copies 1,
// graphic 42008 bytes raw, 1362 sent, dotted line off, not drawn: ^MN ^MM
// ^LS; OK", or the faults in place of OK. dpi names the model whose dots per
// millimetre give the size in millimetres; any other value gives none.
std::string describe_label(const Label& label, int dpi);
