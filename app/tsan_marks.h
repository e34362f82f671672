#pragma once

// ThreadSanitizer cannot see the synchronisation inside Debian's Qt, which is not built for
// the tool. These marks tell it where Qt orders two threads (an event queue, the end of a
// QThread): what one thread did before markReleased(token) happened before whatever another
// does after a later markAcquired(token). Without the tool they compile to nothing.

#if defined(__SANITIZE_THREAD__)
#define FIELDKIT_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FIELDKIT_TSAN 1
#endif
#endif

#ifdef FIELDKIT_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace fieldkit::app {

inline void markReleased([[maybe_unused]] void* token)
{
#ifdef FIELDKIT_TSAN
    __tsan_release(token);
#endif
}

inline void markAcquired([[maybe_unused]] void* token)
{
#ifdef FIELDKIT_TSAN
    __tsan_acquire(token);
#endif
}

} // namespace fieldkit::app
