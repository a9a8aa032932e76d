// The C edge of the library: no exception may leave an exported function.
#pragma once

namespace lumek {

// Runs an exported function's body; an exception inside gives @fallback.
template <typename T, typename Fn>
T guarded(T fallback, Fn &&fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return fallback;
    }
}

}  // namespace lumek
