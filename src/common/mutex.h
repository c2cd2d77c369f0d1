#pragma once

#include <mutex>
#include <shared_mutex>

#include "common/thread_annotations.h"

// Mutexes the thread-safety analysis knows about (std::mutex carries no
// capability attributes in libstdc++), with scoped guards. They add nothing
// at run time: each wraps the standard mutex.
//
// Condition variables and the Clock's timed waits take the standard types:
// MutexLock::native() hands them the std::unique_lock underneath. A wait
// gives the mutex up and has it back before it returns, so for the analysis
// the lock stays held across it; a wait's predicate runs with the lock held
// and says so with REQUIRES:
//
//   MutexLock lock(lock_);
//   clock_.waitFor(wake_, lock.native(), pause, [this]() REQUIRES(lock_) { return stopped_; });
//
// Nothing else may lock or unlock through native().
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // Tells the analysis that the caller holds this mutex where it cannot see
    // that for itself (a callback run under the lock by its caller).
    void assertHeld() const ASSERT_CAPABILITY(this) {}

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex for its scope. unlock() and lock() let it go and take it
// again inside the scope; the destructor releases it only when held.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() RELEASE() {}

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void unlock() RELEASE() { lock_.unlock(); }
    void lock() ACQUIRE() { lock_.lock(); }

    // The standard lock, for condition-variable and Clock waits only.
    std::unique_lock<std::mutex>& native() { return lock_; }

private:
    std::unique_lock<std::mutex> lock_;
};

// A reader-writer mutex: held shared by many or exclusively by one.
class CAPABILITY("mutex") SharedMutex {
public:
    SharedMutex() = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    void lock_shared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
    void unlock_shared() RELEASE_SHARED() { mutex_.unlock_shared(); }

private:
    std::shared_mutex mutex_;
};

// Holds a SharedMutex shared for its scope.
class SCOPED_CAPABILITY SharedLock {
public:
    explicit SharedLock(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) {
        mutex_.lock_shared();
    }
    ~SharedLock() RELEASE() { mutex_.unlock_shared(); }

    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SharedMutex& mutex_;
};

// Holds a SharedMutex exclusively for its scope.
class SCOPED_CAPABILITY ExclusiveLock {
public:
    explicit ExclusiveLock(SharedMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~ExclusiveLock() RELEASE() { mutex_.unlock(); }

    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SharedMutex& mutex_;
};
