#pragma once

#include <cstdint>

#define NOTIFY_STATUS_OK 0u
#define NOTIFY_STATUS_INVALID_NAME 1u
#define NOTIFY_STATUS_FAILED 1000000u

// Broadcasts the Darwin notification `name` to every observer on the session bus. Without a bus
// nothing is sent and NOTIFY_STATUS_FAILED comes back; nobody else is affected.
extern "C" uint32_t notify_post(const char *name);
