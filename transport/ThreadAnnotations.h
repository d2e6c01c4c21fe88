// Clang's thread-safety attributes, so that a build with -Wthread-safety
// checks which lock guards what and which functions need a lock held. Other
// compilers see nothing.
#pragma once

#if defined(__clang__)
#define ORU_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define ORU_THREAD_ATTRIBUTE(x)
#endif

#define ORU_CAPABILITY(name) ORU_THREAD_ATTRIBUTE(capability(name))
#define ORU_SCOPED_CAPABILITY ORU_THREAD_ATTRIBUTE(scoped_lockable)
#define ORU_GUARDED_BY(lock) ORU_THREAD_ATTRIBUTE(guarded_by(lock))
// Lock order: this lock is taken before the ones named, never while holding them.
#define ORU_ACQUIRED_BEFORE(...) ORU_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ORU_REQUIRES(...) ORU_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ORU_ACQUIRE(...) ORU_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define ORU_RELEASE(...) ORU_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define ORU_ASSERT_CAPABILITY(x) ORU_THREAD_ATTRIBUTE(assert_capability(x))
