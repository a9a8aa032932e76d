// Answers of interface "com.vorda.lumek.whlist": every call is recorded, then an injected
// error or reply wins, then entries served for the method (or "*"), else the real state:
// the files the framework stand-in holds labels or protection texts for.
//
// What the arguments mean here (the wire protocol leaves it to the daemon):
//   selector  0: entries with an exectl label that are not kernel modules
//             1: entries with a protection text
//             2: kernel modules with an exectl label
//             any other value: every entry
//   filter    a path prefix; "" matches every path
//   obj_type  an object type text ("program", "library", ...); "" matches every type
//   module    an exact module name; "" matches every module
//   import/export text: a file of lines LABEL<tab>PROTECTION<tab>PATH (not both texts empty;
//             "\\", "\n", "\t" and "\xNN" escapes in all three, see whlist_file.cpp); import
//             applies the labels for selector 0, the protection texts for 1, both otherwise,
//             all or nothing; export writes every entry the selector chooses. Both answer the
//             number of entries. A file import cannot read, or a bad line, is an invalid argument.
// "lumek_memdb_whlist_exectl_load" answers the runtime label database's records (the
// framework stand-in's memdb), unfiltered, or DATABASE.ERR when there is none.
// The _sm methods use the stand-in's _sm protection store and module set. Entries carry
// the file's MD5 as hash, 1 as first integer when the file exists, and status 0.
#include <string.h>

#include <string>

#include "daemon_internal.h"

namespace whlistd {

namespace {

// Either a reply tuple (floating) or an error to raise.
struct Answer {
    GVariant *reply = nullptr;
    ErrorInjection error;
};

Answer reply_of(GVariant *tuple) {
    Answer a;
    a.reply = tuple;
    return a;
}

Answer int_reply(gint32 v) {
    return reply_of(g_variant_new("(i)", v));
}

Answer error_of(const char *name, const char *format, const char *arg, const char *detail = "") {
    Answer a;
    a.error.name = name;
    gchar *msg = g_strdup_printf(format, arg, detail);
    a.error.message = msg;
    g_free(msg);
    return a;
}

bool has_prefix(const char *s, const char *prefix) {
    return prefix[0] == '\0' || strncmp(s, prefix, strlen(prefix)) == 0;
}

bool is_sm(const char *method) {
    size_t n = strlen(method);
    return n > 3 && strcmp(method + n - 3, "_sm") == 0;
}

struct Selection {
    gint32 selector = -1;
    const char *type = "";
    const char *prefix = "";
    const char *exact = nullptr;  // only this path

    bool matches(const char *path, const char *obj_type, const char *label, const char *protect) const {
        if (exact ? strcmp(path, exact) != 0 : !has_prefix(path, prefix)) return false;
        if (type[0] != '\0' && strcmp(obj_type, type) != 0) return false;
        bool kmod = strcmp(obj_type, "kmodule") == 0;
        switch (selector) {
            case 0:
                return label[0] != '\0' && !kmod;
            case 1:
                return protect[0] != '\0';
            case 2:
                return label[0] != '\0' && kmod;
            default:
                return true;
        }
    }
};

// Calls fn(entry) for every selected entry, served or real; @entry is borrowed for the
// call. @with_tuple false spares the real state's hashing when only a count is wanted (fn
// then gets null).
template <typename Fn>
void for_selected(const State &st, const char *method, const Selection &sel, bool with_tuple, Fn fn) {
    if (GVariant *arr = st.entries_for(method)) {
        GVariantIter it;
        g_variant_iter_init(&it, arr);
        GVariant *entry;
        while ((entry = g_variant_iter_next_value(&it))) {
            const char *path, *hash, *type, *label, *protect;
            gint32 a, b;
            g_variant_get(entry, "(&s&s&s&s&sii)", &path, &hash, &type, &label, &protect, &a, &b);
            if (sel.matches(path, type, label, protect)) fn(entry);
            g_variant_unref(entry);
        }
        return;
    }
    for (const FileEntry &f : labelled_files(is_sm(method))) {
        if (!sel.matches(f.path.c_str(), f.type.c_str(), f.label.c_str(), f.protect.c_str())) continue;
        if (!with_tuple) {
            fn(nullptr);
            continue;
        }
        GVariant *entry = g_variant_ref_sink(file_entry_tuple(f));
        fn(entry);
        g_variant_unref(entry);
    }
}

Answer entry_list(const State &st, const char *method, const Selection &sel) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sssssii)"));
    for_selected(st, method, sel, true, [&b](GVariant *e) { g_variant_builder_add_value(&b, e); });
    GVariant *arr = g_variant_builder_end(&b);
    return reply_of(g_variant_new_tuple(&arr, 1));
}

// New reference to the entry with exactly this path, or null.
GVariant *entry_by_path(const State &st, const char *method, const char *path) {
    Selection sel;
    sel.exact = path;
    GVariant *found = nullptr;
    for_selected(st, method, sel, true, [&](GVariant *e) {
        if (!found) found = g_variant_ref(e);
    });
    return found;
}

Answer load_filtered(State &st, const char *method, GVariant *p) {
    Selection sel;
    g_variant_get(p, "(i&s)", &sel.selector, &sel.prefix);
    return entry_list(st, method, sel);
}

Answer load_all(State &st, const char *method, GVariant *) {
    return entry_list(st, method, Selection());
}

Answer load_by_obj_type(State &st, const char *method, GVariant *p) {
    Selection sel;
    g_variant_get(p, "(i&s&s)", &sel.selector, &sel.type, &sel.prefix);
    return entry_list(st, method, sel);
}

Answer count_by_obj_type(State &st, const char *method, GVariant *p) {
    Selection sel;
    g_variant_get(p, "(i&s&s)", &sel.selector, &sel.type, &sel.prefix);
    gint32 n = 0;
    for_selected(st, method, sel, false, [&n](GVariant *) { ++n; });
    return int_reply(n);
}

Answer load_by_path(State &st, const char *method, GVariant *p) {
    const char *path;
    g_variant_get(p, "(&s)", &path);
    GVariant *e = entry_by_path(st, method, path);
    if (!e) return error_of(kErrInvalidArg, kMsgNoSuchEntry, path);
    Answer a = reply_of(g_variant_new_tuple(&e, 1));
    g_variant_unref(e);
    return a;
}

Answer hash_by_path(State &st, const char *method, GVariant *p) {
    const char *path;
    g_variant_get(p, "(&s)", &path);
    GVariant *e = entry_by_path(st, method, path);
    std::string hash;
    if (e) {
        const char *h;
        g_variant_get_child(e, 1, "&s", &h);
        hash = h;
        g_variant_unref(e);
    }
    return reply_of(g_variant_new("(s)", hash.c_str()));
}

Answer import_file(State &, const char *, GVariant *p) {
    gint32 selector;
    const char *file;
    g_variant_get(p, "(i&s)", &selector, &file);
    std::string text, why;
    if (!read_whlist_file(file, &text, &why))
        return error_of(kErrInvalidArg, kMsgCannotRead, file, why.c_str());
    // Checked whole before anything is applied, so a bad line changes nothing.
    std::vector<FileLine> lines;
    int lineno = 0;
    if (!parse_file(text, &lines, &lineno, &why)) {
        Answer a;
        a.error.name = kErrInvalidArg;
        gchar *msg = g_strdup_printf(kMsgBadLine, file, lineno, why.c_str());
        a.error.message = msg;
        g_free(msg);
        return a;
    }
    for (FileLine &l : lines) {
        if (selector == 0) l.protect.clear();
        if (selector == 1) l.label.clear();
    }
    if (!import_lines(lines)) return error_of(kErrDatabase, "%s%s", kMsgStore);
    return int_reply(static_cast<gint32>(lines.size()));
}

Answer export_file(State &st, const char *method, GVariant *p) {
    Selection sel;
    const char *file;
    g_variant_get(p, "(i&s)", &sel.selector, &file);
    std::string out;
    gint32 n = 0;
    if (st.entries_for(method)) {
        for_selected(st, method, sel, true, [&](GVariant *e) {
            const char *path, *hash, *type, *label, *protect;
            gint32 a, b;
            g_variant_get(e, "(&s&s&s&s&sii)", &path, &hash, &type, &label, &protect, &a, &b);
            append_file_line(&out, FileLine{label, protect, path});
            ++n;
        });
    } else {
        // Every entry, those D-Bus could not carry included: the file escapes them.
        for (const FileEntry &f : labelled_files(is_sm(method), false)) {
            if (!sel.matches(f.path.c_str(), f.type.c_str(), f.label.c_str(), f.protect.c_str())) continue;
            append_file_line(&out, FileLine{f.label, f.protect, f.path});
            ++n;
        }
    }
    std::string why;
    bool opened = false;
    if (!write_whlist_file(file, out, &why, &opened))
        return error_of(opened ? kErrDatabase : kErrInvalidArg, kMsgCannotWrite, file, why.c_str());
    return int_reply(n);
}

Answer kmod_load(State &st, const char *method, GVariant *p) {
    const char *name;
    g_variant_get(p, "(&s)", &name);
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(si)"));
    if (GVariant *mods = st.modules()) {
        GVariantIter it;
        g_variant_iter_init(&it, mods);
        const char *n;
        gint32 v;
        while (g_variant_iter_next(&it, "(&si)", &n, &v))
            if (name[0] == '\0' || strcmp(n, name) == 0) g_variant_builder_add(&b, "(si)", n, v);
    } else {
        // The stand-in's module whitelist is its removal-protected set; 1 marks protection.
        for (const std::string &n : protected_modules(is_sm(method)))
            if (name[0] == '\0' || n == name) g_variant_builder_add(&b, "(si)", n.c_str(), 1);
    }
    GVariant *arr = g_variant_builder_end(&b);
    return reply_of(g_variant_new_tuple(&arr, 1));
}

Answer bgset_set(State &, const char *, GVariant *p) {
    const char *text;
    g_variant_get(p, "(&s)", &text);
    if (!store_bgset(text)) return error_of(kErrDatabase, "%s%s", kMsgStore);
    return int_reply(0);
}

Answer bgset_unset(State &, const char *, GVariant *) {
    if (!store_bgset(nullptr)) return error_of(kErrDatabase, "%s%s", kMsgStore);
    return int_reply(0);
}

// The runtime label database as the framework's memdb holds it, whole: callers filter.
Answer memdb_load(State &st, const char *method, GVariant *) {
    if (st.entries_for(method)) return entry_list(st, method, Selection());
    std::vector<GVariant *> entries;
    if (!rtdb_entries(&entries)) return error_of(kErrDatabase, kMsgNoRtdb, "", "");
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sssssii)"));
    for (GVariant *e : entries) g_variant_builder_add_value(&b, e);
    GVariant *arr = g_variant_builder_end(&b);
    return reply_of(g_variant_new_tuple(&arr, 1));
}

// The package-manager commands have nothing to act on in the stand-in.
Answer zero(State &, const char *, GVariant *) {
    return int_reply(0);
}

struct Method {
    const char *name;
    Answer (*answer)(State &, const char *, GVariant *);
};

// Argument types are checked by GDBus against the introspection data before we get here.
constexpr Method kMethods[] = {
    {"lumek_whlist_load", load_filtered},
    {"lumek_whlist_load_sm", load_filtered},
    {"lumek_whlist_load_all", load_all},
    {"lumek_whlist_load_by_obj_type", load_by_obj_type},
    {"lumek_whlist_get_count_by_obj_type", count_by_obj_type},
    {"lumek_whlist_load_by_path", load_by_path},
    {"lumek_whlist_get_hash_by_path", hash_by_path},
    {"lumek_whlist_import", import_file},
    {"lumek_whlist_export", export_file},
    {"lumek_whlist_protect_set_for_dpkg", zero},
    {"lumek_whlist_script_set_for_dpkg", zero},
    {"lumek_kmod_whlist_load", kmod_load},
    {"lumek_kmod_whlist_load_sm", kmod_load},
    {"lumek_bgset_set", bgset_set},
    {"lumek_bgset_unset", bgset_unset},
    {"lumek_memdb_whlist_exectl_load", memdb_load},
};

}  // namespace

bool is_whlist_method(const char *name) {
    for (const Method &m : kMethods)
        if (strcmp(m.name, name) == 0) return true;
    return false;
}

void handle_whlist_call(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                        const gchar *method_name, GVariant *parameters, GDBusMethodInvocation *invocation,
                        gpointer user_data) {
    State &st = *static_cast<State *>(user_data);
    st.record_call(method_name, parameters);

    // A call still to be let through leaves the injections for a later one.
    bool scripted = !st.take_skip(method_name);
    ErrorInjection inj;
    if (scripted && st.take_error(method_name, &inj)) {
        send_error(invocation, inj);
        return;
    }
    if (GVariant *body = scripted ? st.take_reply(method_name) : nullptr) {
        send_raw_reply(invocation, body);
        g_variant_unref(body);
        return;
    }
    for (const Method &m : kMethods) {
        if (strcmp(m.name, method_name) != 0) continue;
        Answer a = m.answer(st, method_name, parameters);
        if (a.reply)
            g_dbus_method_invocation_return_value(invocation, a.reply);
        else
            send_error(invocation, a.error);
        return;
    }
    gchar *msg = g_strdup_printf(kMsgUnknownMethod, method_name);
    g_dbus_method_invocation_return_dbus_error(invocation, kErrUnknownMethod, msg);
    g_free(msg);
}

}  // namespace whlistd
