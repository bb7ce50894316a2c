// The capture workers (enrolment and verification) share the sensor, the
// image ring, the library's static state and the template buffers, so at most
// one runs at a time. The D-Bus thread starts and stops them; a stop cancels
// the worker's USB transfer and returns once the worker has ended (or after a
// bounded wait, in which case no new worker is started).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

struct CaptureWorker {
    const char *name;              // "enroll" or "verify", for the log
    std::atomic<int32_t> exit{0};  // stop flag, polled by the worker
    std::atomic<bool> running{false};
    pthread_t thread{};
    bool joinable = false;  // a thread that still has to be joined
};

extern CaptureWorker g_enrollWorker;
extern CaptureWorker g_verifyWorker;

// Starts `body` on a new thread for `worker`. Returns false when the thread
// cannot be created or a worker is still running.
bool vkWorkerStart(CaptureWorker &worker, void *(*body)(void *));

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
