#pragma once
// A seam for the tests: every system call of the programs that can fail, and
// every allocation, is a fault point. In a build with PAL_FAULT_INJECTION
// (the test copies of the programs, never the installed ones), the
// environment chooses one to fail:
//
//   PAL_FAIL_SYSTEM_CALL=N  the N-th system call of the run fails, as the
//                           system would fail it, with EIO
//   PAL_FAIL_ALLOCATION=N   the N-th allocation of the run fails
//   PAL_FAULT_COUNTS=FILE   at exit, FILE receives "SYSTEM_CALLS ALLOCATIONS",
//                           the fault points the run passed
//
// so that a test can count a run's fault points, then fail each in turn.
// Elsewhere the check is a constant false and costs nothing.

namespace sys::platform {

#ifdef PAL_FAULT_INJECTION
// Counts one system call; true if it is the one to fail.
bool injected_failure();
#else
constexpr bool injected_failure() { return false; }
#endif

}  // namespace sys::platform
