// ZPL samples for the tests of zplpass: what our own filters write, as a
// user of ours may keep it and print it again.
#pragma once

#include <string>
#include <vector>

#include "support.h"

// The labels a filter program writes for the pages, run as CUPS would (one
// copy, no PPD) in dir; fails the test (EXPECT) when the filter fails.
std::string labels_from_filter(const std::string& filter, const std::vector<GreyPage>& pages,
                               const std::string& dir);
