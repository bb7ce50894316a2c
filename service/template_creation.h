// One raw image of the attached sensor model into a template: the library is
// kept initialised for that model, the raw bytes are converted into the image
// layout the library expects, and template creation is called. Runs only on
// the worker thread (the library is not re-entrant).
#pragma once

#include <cstdint>

// Stage of the running enrolment, 1..10 (1..16 under profile 2); verification keeps it at 1. Template
// creation re-initialises the library after -31 while it is 1.
extern int32_t m_enrol_stage;

// Initialises the library for m_devType (types 1, 2, 3 give sensor types 5,
// 3, 1). Returns the library's result, or -1 for an unknown device type.
int fpInit();

// Turns the ring image `raw` (m_imgSize bytes) into a template in `templ`
// (28000 bytes, cleared first) with the ten-word info block `info`. Returns the
// library's result: 1 = template created, any other value = failure; 0 for an
// unknown device type.
int CreateFingerPrintMinutiae(uint8_t *raw, uint8_t *templ, int32_t *info);

// CreateFingerPrintMinutiae under recognition profile 1 or 2.
int CreateTemplateAs(int profile, uint8_t *raw, uint8_t *templ, int32_t *info);
