// Failing one allocation of the library at a time. The allocator's entry points are defined
// in the test executable, so the library's calls bind to them: an allocation whose immediate
// caller lies in liblumekwhlist is counted, and the one numbered by arm() gives NULL (a
// throwing operator new throws std::bad_alloc). Every other caller passes straight through.
#pragma once

namespace lumek_test::alloc {

struct Tally {
    long count;  // allocations the library asked for
    long live;   // its blocks from malloc, calloc, realloc, strdup or strndup not yet freed
};
void arm(long fail_at);  // starts counting; the @fail_at-th allocation fails (0: none)
Tally disarm();          // stops counting: what happened since arm()

}  // namespace lumek_test::alloc
