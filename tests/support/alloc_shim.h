// Failing one allocation of the library at a time. The allocator's entry points are defined
// in the test executable, so the library's calls bind to them: an allocation whose immediate
// caller lies in liblumekwhlist's code is counted, and the one numbered by arm() gives NULL
// (a throwing operator new throws std::bad_alloc). Every other caller passes straight through.
#pragma once

namespace lumek_test::alloc {

// Starts counting the library's allocations; the @fail_at-th fails (0: none fails).
void arm(long fail_at);
// Stops counting; returns how many allocations the library asked for since arm().
long disarm();
// Blocks the library allocated with malloc, calloc, realloc, strdup or strndup since arm()
// that nobody has freed yet.
long live();

}  // namespace lumek_test::alloc
