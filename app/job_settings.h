// The settings record of one job of the printer application, built from the
// IPP job template attributes PAPPL has resolved (the job's values, or the
// printer's defaults where the job gave none). A plain mapping: nothing here
// talks to a running PAPPL.
#pragma once

#include <cstdint>

#include <pappl/pappl.h>

#include "settings/settings.h"

// The print rates the PPDs offer, in inches per second; print-speed maps
// into this range.
inline constexpr int kMinPrintRate = 2;
inline constexpr int kMaxPrintRate = 12;
inline constexpr int kDefaultPrintRate = 4;

// print-speed is in hundredths of a millimetre per second.
inline constexpr int kSpeedPerInch = 2540;

// printer-darkness-configured as shipped: 50 of 100, ~SD15 as the PPD's
// default Darkness.
inline constexpr int kDefaultDarknessConfigured = 50;
inline constexpr int kMaxDarkness = 30;  // ~SD range 0..30

// ~SD of print-darkness (-100..100) added to printer-darkness-configured
// (0..100): the sum, clamped to 0..100, scaled to 0..30 and rounded to the
// nearest level.
int16_t darkness_level(int printDarkness, int darknessConfigured);

// ^PR of print-speed: the nearest whole inch per second, clamped to the
// PPDs' 2..12. No speed (0 or less) gives the default rate.
int16_t print_rate(int printSpeed);

// Whole millimetres of a media dimension in hundredths of a millimetre,
// rounded to the nearest (4 in, 10160, is 102 mm as in the filters' size
// table), at least 1 and at most what the record holds.
int16_t media_mm(int hundredths);

// bi-level asks for the plain threshold; otherwise photo content is
// diffused and anything else gets the mode that keeps sharp art sharp.
Halftone halftone_mode(pappl_content_t content, pappl_color_mode_t colorMode);

// True when the printer makes the job's copies (^PQ): PAPPL streams PWG and
// Apple raster once, while it prints the pages of the image formats it
// converts itself once per copy.
bool label_carries_copies(const char* documentFormat);

// The whole record for a job in documentFormat: label size from the media,
// darkness, print rate, halftone and copies; the rest as the filters'
// built-in defaults (no dotted line, no origin shift).
LabelDoc job_label_doc(const pappl_pr_options_t& options, const char* documentFormat);
