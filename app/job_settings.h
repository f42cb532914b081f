// The settings record of one job of the printer application, built from the
// IPP job template attributes PAPPL has resolved (the job's values, or the
// printer's defaults where the job gave none). A plain mapping: nothing here
// talks to a running PAPPL.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <pappl/pappl.h>

#include "common/profile.h"
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

// --- media handling ---

// The driver's own printer attributes, where PAPPL has none that works:
// each is a vendor attribute with -default and -supported attributes, set
// with `modify -o <name>=<value>` or on the web page "Printing Defaults".
inline constexpr char kTearOffsetAttr[] = "zpl-tear-offset";  // hundredths of a mm
inline constexpr char kMediaTypeAttr[] = "zpl-media-type";    // keywords of MediaType
inline constexpr char kDottedLineAttr[] = "zpl-dotted-line";  // boolean, 300 dpi only

// The label modes of PAPPL the printers offer, with their IPP keyword, the
// PrintMode choice each one is and its name on the web page.
struct LabelMode {
  pappl_label_mode_t mode;
  const char* keyword;
  const char* choice;
  const char* text;
};
inline constexpr LabelMode kLabelModes[] = {
    {PAPPL_LABEL_MODE_TEAR_OFF, "tear-off", "TearOff", "Tear Off"},
    {PAPPL_LABEL_MODE_PEEL_OFF, "peel-off", "PeelOff", "Peel Off"},
    {PAPPL_LABEL_MODE_REWIND, "rewind", "Rewind", "Rewind"},
    {PAPPL_LABEL_MODE_APPLICATOR, "applicator", "Applicator", "Applicator"},
    {PAPPL_LABEL_MODE_CUTTER, "cutter", "Cutter", "Cutter"},
    {PAPPL_LABEL_MODE_CUTTER_DELAYED, "cutter-delayed", "DelayedCut", "Delayed Cut"},
};

// What the printer's settings, and a job's own vendor attributes, give the
// label beside the job template attributes.
struct PrinterLabelSettings {
  pappl_label_mode_t mode = PAPPL_LABEL_MODE_TEAR_OFF;  // label-mode-configured
  int tearOffset = 0;                                   // hundredths of a mm; 0 sends no ~TA
  char mediaType = 0;                                   // ^MT letter; 0 sends none
  int16_t dottedLine = 0;
};

// The IPP keyword of a settings choice: "DirectThermal" is "direct-thermal".
std::string ipp_keyword(std::string_view choiceName);

// Takes one vendor attribute's value, as PAPPL renders it, into settings.
// An unknown name or a value that does not read leaves them as they were.
void apply_vendor_value(PrinterLabelSettings& settings, std::string_view name, const char* value);

// ^MM of label-mode-configured. A mode of none (a printer made before the
// attribute was set, or an unknown keyword) tears off, as labels always did.
char print_mode_letter(pappl_label_mode_t mode);

// ^MN of a media-tracking value: web stock is found by its gaps, as gap
// stock; none (0) sends no ^MN choice, leaving the printer's own.
char tracking_letter(pappl_media_tracking_t tracking);

// Printer dots of a length in hundredths of a millimetre at the model's
// resolution, to the nearest, saturated to 16 bits.
int16_t hundredths_to_dots(int hundredths, const ModelProfile& model);

// Hundredths of a millimetre of a number of dots, truncated: the reach of
// the offsets and tear-off the driver declares.
int dots_to_hundredths(int dots, const ModelProfile& model);

// ~TA of a tear-off offset in hundredths of a millimetre: dot rows, held to
// -120..120; 0 gives the record's "no ~TA".
int16_t tear_offset_rows(int hundredths, const ModelProfile& model);

// The whole record for a job in documentFormat on a printer of the given
// model and settings: label size, darkness, print rate, halftone and copies
// from the job, offsets and tracking from its media, the rest from the
// printer settings; no origin shift beyond the offsets.
LabelDoc job_label_doc(const pappl_pr_options_t& options, const char* documentFormat, const ModelProfile& model,
                       const PrinterLabelSettings& printer);
