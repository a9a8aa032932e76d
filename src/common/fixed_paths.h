// Every fixed system path and tool the library uses, in one place. These are literal:
// nothing (no environment variable, no build option) redirects them, because the
// library runs as root inside package hooks. Tests reach them through private
// mount, pid and network namespaces instead.
#pragma once

namespace lumek::paths {

inline constexpr const char kProc[] = "/proc";
inline constexpr const char kProcMeminfo[] = "/proc/meminfo";
inline constexpr const char kProcNetTcp[] = "/proc/net/tcp";
inline constexpr const char kProcNetUdp[] = "/proc/net/udp";

inline constexpr const char kTc[] = "/sbin/tc";
inline constexpr const char kDevNull[] = "/dev/null";

inline constexpr const char kDataDir[] = "/usr/share/lumek-utils/data/";

}  // namespace lumek::paths
