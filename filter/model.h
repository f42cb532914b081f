// What a filter program is built for: its printer model and where its
// diagnostic log goes. Each program links exactly one model.cpp.
#pragma once

#include "common/profile.h"

extern const ModelProfile g_model;
extern const char kLogPath[];
