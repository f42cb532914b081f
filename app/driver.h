// The PAPPL driver of the label printers: what a printer of each model
// offers, and the callbacks that turn a job's grey raster lines into labels
// with the filters' own core, or pass printer-ready ZPL through.
#pragma once

#include <pappl/pappl.h>

// Fills the driver data of a printer created with one of the zpl_<dpi>dpi
// drivers. False for a driver name of no model.
bool zpl_driver_callback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                         const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs, void* context);

// The MIME type of a document whose format the client left open: ZPL by
// its first bytes, or null to let PAPPL decide.
const char* zpl_mime_callback(const unsigned char* header, size_t size, void* context);
