#pragma once

#include <functional>

// A search or a download is one long call on the window thread that lets the
// other handlers run inside it. These are the only ways it yields.
namespace kiro {

// Handles the events that are pending now, without waiting.
void PumpEvents();

// Like PumpEvents, but at most about every 10 ms; cheap to call per item.
void PumpEventsThrottled();

// Blocks in the event loop until done() holds or AbortFlag is 1, handling
// events as they come (no busy waiting). Returns true when done() held.
bool WaitFor(const std::function<bool()> &done);

} // namespace kiro
