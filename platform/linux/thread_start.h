// How the Linux binding starts a thread: pthread_create, replaceable so that a test can make a
// start fail without exhausting the machine.
#pragma once

#include <pthread.h>

namespace linux_thread {

using CreateFunction = int (*)(pthread_t* thread, const pthread_attr_t* attributes,
                               void* (*start)(void*), void* arg);
extern CreateFunction create;

}  // namespace linux_thread
