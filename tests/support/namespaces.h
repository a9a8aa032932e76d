// Running a piece of a test inside private namespaces, in a forked child.
//
// Usage:
//   int st = lumek_test::run_in_namespaces(CLONE_NEWNS | CLONE_NEWPID, [] {
//       EXPECT_EQ(...);                 // gtest assertions work in the child
//       return 0;
//   });
//   LUMEK_SKIP_IF_REFUSED(st);
//   EXPECT_EQ(st, 0);
//
// The child returns its function's result, or 1 when a gtest assertion failed in it.
// With CLONE_NEWPID the function runs as pid 1 of the new namespace and /proc is
// remounted so that it shows only that namespace. With CLONE_NEWNS every mount is
// private to the child. With CLONE_NEWNET the loopback link is brought up.
#pragma once

#include <functional>

namespace lumek_test {

// Returned when the kernel refuses the namespaces (no CAP_SYS_ADMIN, for example).
inline constexpr int kNamespacesRefused = 77;

int run_in_namespaces(int clone_flags, const std::function<int()> &fn);

// Sets the loopback link of the current network namespace up. Returns false on failure.
bool bring_loopback_up();

// Runs @fn in a private mount namespace once @build has laid out its fixture tree there
// (build returning false fails the test); fails the test when the namespace is refused.
void in_private_tree(const std::function<bool()> &build, const std::function<void()> &fn);

// Bind-mounts @source over @target (both must exist). Only meaningful inside a private
// mount namespace. Returns false and prints the reason on failure.
bool bind_mount(const char *source, const char *target);

}  // namespace lumek_test

#define LUMEK_SKIP_IF_REFUSED(status)                                                   \
    do {                                                                                \
        if ((status) == ::lumek_test::kNamespacesRefused)                               \
            GTEST_SKIP() << "*** SKIPPED: private namespaces refused (needs root) ***"; \
    } while (0)
