#pragma once

namespace platform::testing {

// Whether libumockdev-preload is loaded, sending /sys and /dev into a testbed's tree.
bool umockdevPreloadActive();

// For a test executable that reads /sys and /dev itself: called before main (a namespace-scope
// initializer), it runs the executable again under umockdev-wrapper with the same arguments, so
// nothing the tests do reaches the machine's own devices. Returns when the preload is already
// there; exits when it cannot be had.
bool runUnderUmockdevPreload();

} // namespace platform::testing
