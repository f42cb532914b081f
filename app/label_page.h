// The printer application's own web pages and texts beside PAPPL's: the
// label mode, which PAPPL 1.3.1 keeps and takes over IPP but shows no
// control for, and English names for the driver's vendor attributes.
#pragma once

#include <pappl/pappl.h>

// Adds the "Label Mode" page to a new printer's web interface, when the
// system has one. PAPPL removes it with the printer.
void add_label_mode_page(pappl_printer_t* printer);

// The English texts of the web pages for the driver's attributes, in the
// strings format papplSystemAddStringsData takes.
extern const char kEnglishStrings[];
