// Private header of the reference whitelist daemon: names on the bus, the error-name table,
// the in-memory state and the two interface handlers.
#pragma once

#include <gio/gio.h>

#include <map>
#include <string>
#include <vector>

namespace whlistd {

inline constexpr const char kBusName[] = "com.vorda.lumek";
inline constexpr const char kObjectPath[] = "/whlist";
inline constexpr const char kWhlistInterface[] = "com.vorda.lumek.whlist";
inline constexpr const char kTestInterface[] = "com.vorda.lumek.whlist.Test";

// Injections keyed by this name apply to every whlist method.
inline constexpr const char kAnyMethod[] = "*";

// Error names the daemon raises, in result-code order (0, -1001 ... -1009).
inline constexpr const char kErrOk[] = "VORDA.LUMEK.OK";
inline constexpr const char kErrAuthFailed[] = "VORDA.LUMEK.AUTH.FAILED";
inline constexpr const char kErrCancelAuth[] = "VORDA.LUMEK.CANCEL.AUTH";
inline constexpr const char kErrDisabled[] = "VORDA.LUMEK.DISABLED";
inline constexpr const char kErrDatabase[] = "VORDA.LUMEK.DATABASE.ERR";
inline constexpr const char kErrLabelGet[] = "VORDA.LUMEK.LABEL.GET.ERR";
inline constexpr const char kErrLabelSet[] = "VORDA.LUMEK.LABEL.SET.ERR";
inline constexpr const char kErrInvalidArg[] = "VORDA.LUMEK.INVALID.ARG";
inline constexpr const char kErrExtractList[] = "VORDA.LUMEK.EXTRACT.LIST.ERR";
inline constexpr const char kErrFileAttr[] = "VORDA.LUMEK.FILE.ATTR.ERR";

// Standard D-Bus error for malformed test-control requests.
inline constexpr const char kErrBadRequest[] = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char kErrUnknownMethod[] = "org.freedesktop.DBus.Error.UnknownMethod";

// Message texts of the daemon's own replies.
inline constexpr const char kMsgNoSuchEntry[] = "%s: no whitelist entry for this path";
inline constexpr const char kMsgBadErrorName[] = "not a valid D-Bus error name: %s";
inline constexpr const char kMsgUnknownMethod[] = "no such whlist method: %s";
inline constexpr const char kMsgUnknownTestMethod[] = "no such test-control method: %s";
inline constexpr const char kMsgCannotRead[] = "%s: cannot read: %s";
inline constexpr const char kMsgBadLine[] = "%s:%d: %s; nothing was imported";
inline constexpr const char kMsgCannotWrite[] = "%s: cannot write: %s";
inline constexpr const char kMsgNotRegular[] = "not a regular file";
inline constexpr const char kMsgTooLarge[] = "larger than 256 MiB, the most a whitelist file may hold";
inline constexpr const char kMsgStore[] = "the stand-in's state cannot be read or written";
inline constexpr const char kMsgNoRtdb[] = "there is no runtime label database%s%s";

// Key of the bgset text in the stand-in's named texts.
inline constexpr const char kBgsetKey[] = "bgset";

// The largest whitelist file import reads.
inline constexpr long long kMaxFileBytes = 256LL << 20;

// Introspection XML of both interfaces.
extern const char kIntrospectionXml[];

// An error to raise instead of answering.
struct ErrorInjection {
    std::string name;
    std::string message;
    bool with_body = true;
    int times = 0;  // remaining; -1 = until Reset
};

// A body to send instead of the normal answer (any type, already a tuple).
struct ReplyInjection {
    GVariant *body = nullptr;  // owned, non-floating
    int times = 0;
};

class State {
  public:
    State() = default;
    State(const State &) = delete;
    State &operator=(const State &) = delete;
    ~State() { reset(); }

    void reset();

    void inject_error(const std::string &method, ErrorInjection inj) { errors_[method] = std::move(inj); }
    void inject_reply(const std::string &method, GVariant *tuple, int times);
    // Returns the error to raise for this call (consuming one use), or false.
    bool take_error(const std::string &method, ErrorInjection *out);
    // Returns a new reference to the body to send for this call (consuming one use), or null.
    GVariant *take_reply(const std::string &method);
    // The next @calls calls of @method are answered normally before its injections apply.
    void skip_calls(const std::string &method, int calls) { skips_[method] = calls; }
    // True (consuming one) while calls of @method are still to be let through.
    bool take_skip(const std::string &method);

    // Served data: an "a(sssssii)" value per method or "*", and one "a(si)" module list.
    void serve_entries(const std::string &method, GVariant *entries);
    void serve_modules(GVariant *modules);
    // Borrowed; null when nothing is served for the method (nor for "*").
    GVariant *entries_for(const std::string &method) const;
    GVariant *modules() const { return modules_; }

    void record_call(const std::string &method, GVariant *params);
    // New floating "a(sv)" of every recorded call: the method name and its parameter tuple
    // (an empty "av" for a call without arguments).
    GVariant *calls() const;

  private:
    template <typename Inj>
    static Inj *find(std::map<std::string, Inj> &m, const std::string &method);

    std::map<std::string, ErrorInjection> errors_;
    std::map<std::string, ReplyInjection> replies_;
    std::map<std::string, int> skips_;
    std::map<std::string, GVariant *> entries_;
    GVariant *modules_ = nullptr;
    std::vector<std::pair<std::string, GVariant *>> calls_;
};

// One file of the stand-in's state, as the whitelist shows it: the label and protection
// texts are "" when the file has none.
struct FileEntry {
    std::string path, label, protect, type;
    bool exists = false;
};

// The stand-in's labelled or protected files (@sm: the _sm protection store), by path. With
// @utf8_only those whose texts D-Bus cannot carry are left out.
std::vector<FileEntry> labelled_files(bool sm, bool utf8_only = true);
// A floating "(sssssii)" of the entry; the hash is the file's MD5 now ("" when unreadable),
// the first integer 1 when the file exists, the status 0.
GVariant *file_entry_tuple(const FileEntry &f);
// The stand-in's protected modules (@sm: the _sm set), by name.
std::vector<std::string> protected_modules(bool sm);
// Stores (or, for NULL, clears) the bgset text in the stand-in.
bool store_bgset(const char *text);
// One line of a whitelist file: LABEL<tab>PROTECTION<tab>PATH, either text may be "".
struct FileLine {
    std::string label, protect, path;
};
// Applies every line's label and protection text ("" leaves that one alone) in one
// transaction of the stand-in's store: all of them, or none.
bool import_lines(const std::vector<FileLine> &lines);

// Appends @line to @out, each text escaped: "\\", "\n", "\t", and "\xNN" for other control
// bytes and bytes that are not UTF-8.
void append_file_line(std::string *out, const FileLine &line);
// Parses a whole file's text; blank lines are skipped and a "\r" before "\n" dropped. On the
// first bad line, false with its number and the reason, and @out is not to be used.
bool parse_file(const std::string &text, std::vector<FileLine> *out, int *bad_line, std::string *why);
// Reads a whitelist file: a regular file of at most kMaxFileBytes, opened without blocking.
// False with the reason.
bool read_whlist_file(const char *file, std::string *text, std::string *why);
// Replaces (or creates) a regular file with @text, through a new file renamed over it.
// False with the reason; @opened tells whether it failed before or after it had a new file.
bool write_whlist_file(const char *file, const std::string &text, std::string *why, bool *opened);

// The label records of the runtime label database (memdb key 10000) as floating
// "(sssssii)" entries, in the order they were stored: path, hash, type and label texts, the
// stand-in's protection text, 1 when the file exists, the status. Records of another shape
// are left out. False when there is no such database.
bool rtdb_entries(std::vector<GVariant *> *out);

// True for the name of a method of the whitelist interface.
bool is_whlist_method(const char *name);

// Method-call handlers of the two interfaces; user_data is the State.
void handle_whlist_call(GDBusConnection *conn, const gchar *sender, const gchar *object_path,
                        const gchar *interface_name, const gchar *method_name, GVariant *parameters,
                        GDBusMethodInvocation *invocation, gpointer user_data);
void handle_test_call(GDBusConnection *conn, const gchar *sender, const gchar *object_path,
                      const gchar *interface_name, const gchar *method_name, GVariant *parameters,
                      GDBusMethodInvocation *invocation, gpointer user_data);

// Sends @body (a tuple of any type) as the reply of @invocation, bypassing GDBus's check of
// the declared reply type, and releases the invocation.
void send_raw_reply(GDBusMethodInvocation *invocation, GVariant *body);
// Sends an error reply; without a body when !with_body. Releases the invocation.
void send_error(GDBusMethodInvocation *invocation, const ErrorInjection &err);

}  // namespace whlistd
