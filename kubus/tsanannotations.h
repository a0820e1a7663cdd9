#pragma once

// The distribution's Qt hands objects between threads with locks the thread checker cannot see
// (its event queue, QThread::wait). Where our code relies on such a hand-over, these mark it:
// RELEASE on the handing side, ACQUIRE on the taking side, both on the same address.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define ZEF_TSAN_RELEASE(address) __tsan_release(address)
#define ZEF_TSAN_ACQUIRE(address) __tsan_acquire(address)
#else
#define ZEF_TSAN_RELEASE(address) static_cast<void>(address)
#define ZEF_TSAN_ACQUIRE(address) static_cast<void>(address)
#endif
