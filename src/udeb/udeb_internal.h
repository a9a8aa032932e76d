// udeb list pass-through: the framework's udeb operations under the library's names, let
// through only while the framework is enabled. Private to src/udeb.
#pragma once

#include "core/framework.h"
#include "lumekwhlist.h"

namespace lumek::udeb {

// The answer of every int-returning wrapper while the framework is disabled.
inline constexpr int kDisabled = -1;

// Forwards to @op with the arguments as received, or answers kDisabled when the
// framework is off. Only a status of 0 stops a call.
template <typename Op, typename... Args>
int gated(Op op, Args... args) {
    if (lumek_getstatus() == 0) return kDisabled;
    return op(args...);
}

using ReadAllOp = void *(*)(void *, int *);

// The read-all members: the count is 0 before the gate is asked, so it is 0 whenever the
// framework is disabled. A NULL count address is refused (NULL) before anything runs.
void *gated_read_all(ReadAllOp op, void *first, int *count);

}  // namespace lumek::udeb
