#pragma once

// Replaces the application's handling of hardware-keyboard events with one that first runs the
// handling it replaced and then hands the event to the keymap editor that is the key-event
// target. Once per process; nothing when the application offers no such handling.
void NBRInstallKeyEventHook();
