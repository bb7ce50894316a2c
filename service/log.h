// Diagnostic log of the service.
//
// Posters on any thread format a line and put it on a System V message queue
// (mode 0600); one writer thread takes the lines off and appends each to the
// log file (created 0600, never through a symbolic link, never another user's
// file) and to standard output.
// Logging is switched on by the mere presence of a flag file, which the writer
// tests again for every line it takes.
//
// Nothing here ever waits on the output: posting drops (and counts) a line the
// queue has no room for, and the writer skips standard output while it cannot
// take a line at once.
#pragma once

#include <cstdint>

// A log file larger than this is removed before the next line is appended.
inline constexpr long kLogFileSizeLimit = 3145728;

// Size of the text field of one queue record, NUL included.
inline constexpr int kLogTextSize = 512;

// Moves the log file and the flag file (test runs only). Must be called before
// vklogExec; null keeps the current value.
void vklogSetPaths(const char *logPath, const char *flagPath);

// Creates the queue and starts the writer thread. The queue is private (no key
// another program could take first) and marked as the service's by a first
// record the writer never takes; queues that killed runs left are found by
// that mark, their owner and mode, and a last user that is no running copy of
// the service, and removed first. When no queue can be had, says so in one
// line on standard error and runs without logging. Exits with status 1 only
// when the writer thread cannot be started.
void vklogExec();

// Lines dropped so far because the queue was full.
uint32_t vklogDropped();

// Writes one line (a newline is added) to standard output when it can take it
// without waiting; otherwise the line is dropped.
void vkWriteStdoutNoWait(const char *text);

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
