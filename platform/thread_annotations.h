// Clang's thread-safety annotations. With clang and -Wthread-safety the compiler checks that a
// field marked GUARDED_BY(lock) is touched only with `lock` held, that a function marked
// REQUIRES(lock) is called with it held, and that scoped holders release what they took. Other
// compilers see empty macros.
#pragma once

#if defined(__clang__)
#define KAVREL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KAVREL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KAVREL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY KAVREL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KAVREL_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) KAVREL_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) KAVREL_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) KAVREL_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) KAVREL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KAVREL_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) KAVREL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KAVREL_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) KAVREL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KAVREL_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) KAVREL_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KAVREL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) KAVREL_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) KAVREL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) KAVREL_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) KAVREL_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KAVREL_THREAD_ANNOTATION(no_thread_safety_analysis)
