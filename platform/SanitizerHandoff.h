#pragma once

// Qt is not built with ThreadSanitizer, so it cannot see Qt's own queues and
// locks pass work from one thread to another. Where we hand work to Qt, these
// tell it: what a thread wrote before handOff(token) is seen by the thread
// that calls takeOver(token) after. Nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define KANTELO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KANTELO_TSAN 1
#endif
#endif

#ifdef KANTELO_TSAN
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace platform {

inline void handOff([[maybe_unused]] const void *token)
{
#ifdef KANTELO_TSAN
    __tsan_release(const_cast<void *>(token));
#endif
}

inline void takeOver([[maybe_unused]] const void *token)
{
#ifdef KANTELO_TSAN
    __tsan_acquire(const_cast<void *>(token));
#endif
}

} // namespace platform
