// The capture workers (enrolment and verification) share the sensor, the
// image ring, the library's static state and the template buffers, so at most
// one runs at a time. The D-Bus thread starts and stops them; a stop cancels
// the worker's USB transfer and returns once the worker has ended (or after a
// bounded wait, in which case no new worker is started).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "veko2547_drv.h"

// What a worker does: captures of `mode`, each outcome handed to `handle`
// (with the last transfer result, which it may change) until it returns false.
struct CapturePlan {
    CaptureMode mode;
    CaptureLabels labels;
    bool (*handle)(CaptureOutcome outcome, int &last);
};

struct CaptureWorker {
    const char *name;  // "enroll" or "verify", for the log
    CapturePlan plan{};
    std::atomic<int32_t> exit{0};  // stop flag, polled by the worker
    std::atomic<bool> running{false};
    pthread_t thread{};
    bool joinable = false;  // a thread that still has to be joined
};

extern CaptureWorker g_enrollWorker;
extern CaptureWorker g_verifyWorker;

// Starts `plan` on a new thread for `worker`: the identity exchange, the
// captures, then the receive buffer cleared, the exit logged and the worker
// finished. Returns false (and logs it) when the thread cannot be created or
// a worker is still running.
bool vkWorkerStart(CaptureWorker &worker, const CapturePlan &plan);

// Called by a worker's thread as the last thing it does; a stopped worker
// first sends the end-of-capture command.
void vkWorkerFinished(CaptureWorker &worker);

// Sets the stop flag, cancels the transfer in flight and waits (at most 0.8 s)
// for the worker to end. Returns the milliseconds waited.
int vkWorkerStop(CaptureWorker &worker);

// Stops whichever worker runs. Returns true when none runs afterwards.
bool vkStopAllWorkers();

// Releases the sensor: stops a running worker as vkWorkerStop does, then
// closes the sensor.
void vkStopWorkersAndClose();
