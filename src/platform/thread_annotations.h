#pragma once
// Clang's thread-safety attributes; empty elsewhere. A clang build with -Wthread-safety checks
// which lock guards which state.
#if defined(__clang__)
#define QZ_TSA(x) __attribute__((x))
#else
#define QZ_TSA(x)
#endif
#define CAPABILITY(x) QZ_TSA(capability(x))
#define SCOPED_CAPABILITY QZ_TSA(scoped_lockable)
#define GUARDED_BY(x) QZ_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) QZ_TSA(pt_guarded_by(x))
#define ACQUIRE(...) QZ_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QZ_TSA(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QZ_TSA(try_acquire_capability(__VA_ARGS__))
#define REQUIRES(...) QZ_TSA(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) QZ_TSA(locks_excluded(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) QZ_TSA(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) QZ_TSA(acquired_after(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS QZ_TSA(no_thread_safety_analysis)
#define ASSERT_CAPABILITY(x) QZ_TSA(assert_capability(x))
