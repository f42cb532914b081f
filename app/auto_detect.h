// The driver "auto": the model of a printer from its own ~HI reply, whose
// dots per millimetre give its resolution (8, 12, 24: 203, 300, 600 dpi).
#pragma once

#include <string>

#include <pappl/pappl.h>

#include "common/profile.h"
#include "status/printer_status.h"

// What asking a printer for its identity found out.
struct Detection {
  const ModelProfile* model = nullptr;  // null: refused, see why
  std::string why;                      // for the log: the reply or the refusal
};

// The model a ~HI reply stands for.
Detection model_of_identity(const PrinterIdentity& identity);

// The model a device ID names, as PAPPL makes one from a model's make and
// model and keeps it with the printer ("MFG:Generic;MDL:ZPL Label Printer
// 203dpi;..."); null for any other.
const ModelProfile* model_of_device_id(const char* deviceId);

// Where the refusals and detections are logged: the server's log once the
// system exists, standard error before.
void set_detection_log(pappl_system_t* system);

// PAPPL's auto-add callback. A printer keeps the model its device ID names
// (so that a printer added as "auto" keeps its model when the server starts
// again and the printer is off); otherwise the printer at deviceUri is
// asked. Returns the driver name, or null after logging why not.
const char* zpl_autoadd_callback(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* data);
