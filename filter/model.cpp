// Compiled once per program: ZPL_MODEL picks the printer model and
// ZPL_LOG_PATH where the diagnostic log goes.
#include "filter/model.h"

#if ZPL_MODEL == 300
const ModelProfile g_model = kProfile300;
#elif ZPL_MODEL == 203
const ModelProfile g_model = kProfile203;
#else
#error "ZPL_MODEL must be 300 or 203"
#endif

const char kLogPath[] = ZPL_LOG_PATH;
