#pragma once
// The main-thread call queue: how a worker has the main (user-interface) thread run a call
// and waits for it, and how the main thread serves those calls.
//
// The main thread is the process's initial thread, the one that runs main() and, in the
// program, the Qt event loop. Taking it from the kernel (its thread id equals the process
// id) needs no start-up call and cannot be claimed by a worker that happens to touch the
// queue first.
//
// The queue is served in three ways:
//  - by the event loop: the user interface installs a wake-up (SetMainThreadWakeUp) that
//    posts one event to its loop, and that event calls DrainMainThreadQueue();
//  - by the bounded wait of the main thread (WaitServingCalls), which runs queued calls and
//    dispatches nothing else;
//  - at once, when Synchronize is called on the main thread itself.
#include <cstdint>
#include <functional>

#include "platform/FunctionRef.h"

namespace platform {

bool IsMainThread();

// Has the main thread run `call` and returns when it has. An exception thrown by the call is
// thrown again here, in the calling thread. On the main thread the call runs at once.
// A worker waits for as long as the main thread does not serve the queue; the main thread
// must therefore never block on a worker without serving it (WaitServingCalls does).
// Nothing is allocated per call: the pending call lives on the caller's stack.
void Synchronize(FunctionRef<void()> call);

// Installs the event loop's wake-up; nullptr removes it. `wake` is called on a worker
// thread when a call is queued while the main thread is neither draining nor in the bounded
// wait, at most once until the next DrainMainThreadQueue(). It must be thread-safe, must not
// block, and must only arrange for DrainMainThreadQueue() to run on the main thread soon (it
// must not drain itself: it runs on the worker). Installing a wake-up while calls are
// pending wakes at once.
void SetMainThreadWakeUp(std::function<void()> wake);

// Runs, on the main thread, every call queued so far.
void DrainMainThreadQueue();

// The bounded wait of the main thread. Waits until `done()` is true or `ms` milliseconds
// have passed, running the calls that are queued in the meantime and nothing else (no event
// of the user interface is dispatched). Returns done(). Whoever makes `done()` true must call
// WakeServingWait() afterwards so that the wait sees it at once.
bool WaitServingCalls(uint32_t ms, FunctionRef<bool()> done);
void WakeServingWait();

}  // namespace platform
