#pragma once

// Reaching a messaging center across the sandbox: a center with the bootstrap applied only
// serves and delivers while its name is unlocked by a running process.

class CPDistributedMessagingCenter;

typedef int kern_return_t;
#define KERN_SUCCESS 0
#define KERN_FAILURE 5

// Unlocks `name` for as long as the calling process lives.
extern "C" kern_return_t rocketbootstrap_unlock(const char *name);
void rocketbootstrap_distributedmessagingcenter_apply(CPDistributedMessagingCenter *center);
