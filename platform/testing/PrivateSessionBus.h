#pragma once

namespace platform::testing {

// Gives this test process (and what it starts) a session bus of its own, so that
// notifications of tests running side by side never meet. A bus without service folders: no
// name is started on demand. Call before anything touches the bus; the bus ends with the
// process. Returns false (and leaves the environment alone) when no bus could be started.
bool usePrivateSessionBus();

// True when the executable was only asked for its list of tests (no bus needed for that).
bool listingTestsOnly(int argc, char **argv);

} // namespace platform::testing
