// Addressing of the whitelist daemon.
#pragma once

namespace lumek::daemon {

inline constexpr const char kBusName[] = "com.vorda.lumek";
inline constexpr const char kObjectPath[] = "/whlist";
inline constexpr const char kInterface[] = "com.vorda.lumek.whlist";

}  // namespace lumek::daemon
