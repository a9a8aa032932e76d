// The reference daemon's test-control interface, from inside lumek-sandbox.
#pragma once

#include <gio/gio.h>

namespace lumek_test {

inline constexpr const char kDaemonBusName[] = "com.vorda.lumek";
inline constexpr const char kDaemonPath[] = "/whlist";
inline constexpr const char kDaemonControlInterface[] = "com.vorda.lumek.whlist.Test";

// Calls a control method on the system bus. Returns the reply (the caller unrefs it), or
// null after recording a test failure.
GVariant *daemon_control(const char *method, GVariant *params);

// The same, for a reply nobody reads.
void daemon_control_unref(const char *method, GVariant *params);

// The next @times calls of @method ("*": any; -1: until Reset) fail with @name and
// @message; without a body the error carries no message at all.
void daemon_inject_error(const char *method, const char *name, const char *message, bool with_body = true,
                         int times = -1);

// A value parsed from its text form (@type may be null), as a floating reference that the
// consumer it is handed to takes over; null after recording a test failure.
GVariant *parse_variant(const char *type, const char *text);

// @method ("*": every list method) answers with the entries "a(sssssii)" of @entries_text.
void daemon_serve_entries(const char *method, const char *entries_text);

// The next @times calls of @method (-1: until Reset) answer with @body_text, the body itself
// or a single value, whatever its type; "()" is a reply without a body.
void daemon_inject_reply(const char *method, const char *body_text, int times = -1);

}  // namespace lumek_test
