#pragma once

// The distribution's Qt hands objects between threads with locks the thread checker cannot see
// (its event queue, QThread::wait). Where our code relies on such a hand-over, these mark it:
// RELEASE on the handing side, ACQUIRE on the taking side, both on the same address.
// Thread-checker builds also link kubus/thread/tsan/, which marks Qt's own hand-overs: an emission
// releases on its sender, posting from our code on the receiver's post mark, and delivering an
// event acquires both; a finished thread releases on its QThread, and wait() acquires it.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define ZEF_TSAN_RELEASE(address) __tsan_release(address)
#define ZEF_TSAN_ACQUIRE(address) __tsan_acquire(address)
// One byte into the receiver: its own address is the mark of the signals it emits.
inline void* zefTsanPostMark(const void* receiver)
{
    return const_cast<char*>(static_cast<const char*>(receiver)) + 1;
}
#else
#define ZEF_TSAN_RELEASE(address) static_cast<void>(address)
#define ZEF_TSAN_ACQUIRE(address) static_cast<void>(address)
#endif
