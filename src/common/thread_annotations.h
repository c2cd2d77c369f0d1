#pragma once

// Lock contracts the compiler checks. Clang's thread-safety analysis
// (-Wthread-safety, the clang-tsa build) reads these attributes; every other
// compiler sees nothing. They only mean something on a type declared as a
// capability: Mutex and SharedMutex (common/mutex.h), not the standard
// library's mutexes.
//
//   Mutex lock_;
//   int count_ GUARDED_BY(lock_) = 0;           // read and written under lock_
//   Mutex listLock_ ACQUIRED_AFTER(lock_);      // may be taken while lock_ is held
//   void bumpLocked() REQUIRES(lock_);          // the caller holds lock_
//   void publish() EXCLUDES(lock_);             // the caller must not hold lock_
//
// The analysis looks at one function at a time: a lock order across objects
// (one component calling another while it holds its own lock) stays a
// comment in the headers concerned.

#if defined(__clang__)
#define CORVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CORVANE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) CORVANE_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY CORVANE_THREAD_ANNOTATION(scoped_lockable)

#define GUARDED_BY(x) CORVANE_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) CORVANE_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) CORVANE_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) CORVANE_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))

#define REQUIRES(...) CORVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) CORVANE_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) CORVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

#define ACQUIRE(...) CORVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) CORVANE_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) CORVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) CORVANE_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) CORVANE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) \
    CORVANE_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))

#define ASSERT_CAPABILITY(x) CORVANE_THREAD_ANNOTATION(assert_capability(x))
#define ASSERT_SHARED_CAPABILITY(x) CORVANE_THREAD_ANNOTATION(assert_shared_capability(x))
#define RETURN_CAPABILITY(x) CORVANE_THREAD_ANNOTATION(lock_returned(x))

// For the rare function whose locking the analysis cannot follow; say why
// next to it.
#define NO_THREAD_SAFETY_ANALYSIS CORVANE_THREAD_ANNOTATION(no_thread_safety_analysis)
