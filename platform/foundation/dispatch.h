#pragma once

// The parts of libdispatch the system uses: the main queue, work run after a delay on it, and
// the global queue for work that blocks.

#include <cstdint>
#include <functional>

typedef struct dispatch_queue_s *dispatch_queue_t;
typedef std::uint64_t dispatch_time_t;

#define DISPATCH_TIME_NOW 0ull
#define NSEC_PER_SEC 1000000000ll
#define DISPATCH_QUEUE_PRIORITY_DEFAULT 0

// The queue of the application's main thread (its event loop).
dispatch_queue_t dispatch_get_main_queue();
// The concurrent queue of the given priority (only the default one exists here). Blocks on it run
// on threads of their own, so one that waits a long time never holds up another.
dispatch_queue_t dispatch_get_global_queue(long priority, unsigned long flags);
// `delta` nanoseconds after `when`, a point on the monotonic clock.
dispatch_time_t dispatch_time(dispatch_time_t when, std::int64_t delta);
// Runs `block` on `queue` once `when` has come; the main queue runs it from the event loop.
// Delays apply to the main queue only; the global queue starts the block at once.
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, std::function<void()> block);
void dispatch_async(dispatch_queue_t queue, std::function<void()> block);
