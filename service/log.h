// Diagnostic log of the service.
//
// Posters on any thread format a line and put it on a private System V
// message queue; one writer thread takes the lines off and appends each to the
// log file and to standard output. Logging is switched on by the mere presence
// of a flag file, which the writer tests again for every line it takes.
#pragma once

#include <cstdint>

// A log file larger than this is removed before the next line is appended.
inline constexpr long kLogFileSizeLimit = 3145728;

// Size of the text field of one queue record, NUL included.
inline constexpr int kLogTextSize = 512;

// Moves the log file and the flag file (test runs only). Must be called before
// vklogExec; null keeps the current value.
void vklogSetPaths(const char *logPath, const char *flagPath);

// Creates the queue and starts the writer thread. Exits the process with
// status 1 when either cannot be created.
void vklogExec();

// Removes the queue. Called when the process ends; lines still queued are lost.
// Safe to call from a signal handler.
void vklogRemoveQueue();

// Waits until the writer has written every line posted so far, or until
// `timeoutMs` has passed. Used before the process exits.
void vklogDrain(int timeoutMs);

// Posts the local date and time, without the time prefix, whatever the flag.
void vklogtm();

// Posts the time prefix followed by the text, verbatim.
void _vklogstr(const char *text);

// Posts the time prefix followed by the formatted text (cut to fit the record).
void _vklog(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Posts a hex dump of `size` bytes, headed by the label when it is not null.
void _vklogM(const char *label, const uint8_t *data, uint32_t size);

// Builds the hex dump entry of _vklogM into `out` (kLogTextSize bytes).
// Separate from posting so the layout can be checked on its own.
void vklogFormatHexDump(char *out, const char *label, const uint8_t *data, uint32_t size);

// True while the flag file was present at the writer's last line.
bool vklogEnabled();
