// Answers of interface "com.vorda.lumek.whlist": every call is recorded, then an injected
// error or reply wins, else the method answers from the served data.
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

bool has_prefix(const char *s, const char *prefix) {
    return prefix[0] == '\0' || strncmp(s, prefix, strlen(prefix)) == 0;
}

// Walks the served entries of @method; an empty @obj_type or @prefix matches everything.
template <typename Fn>
void for_matching(const State &st, const char *method, const char *obj_type, const char *prefix, Fn fn) {
    GVariant *arr = st.entries_for(method);
    if (!arr) return;
    GVariantIter it;
    g_variant_iter_init(&it, arr);
    GVariant *entry;
    while ((entry = g_variant_iter_next_value(&it))) {
        const char *path = nullptr, *type = nullptr;
        g_variant_get_child(entry, 0, "&s", &path);
        g_variant_get_child(entry, 2, "&s", &type);
        if (has_prefix(path, prefix) && (obj_type[0] == '\0' || strcmp(type, obj_type) == 0)) fn(entry, path);
        g_variant_unref(entry);
    }
}

Answer entry_list(const State &st, const char *method, const char *obj_type, const char *prefix) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sssssii)"));
    for_matching(st, method, obj_type, prefix,
                 [&b](GVariant *e, const char *) { g_variant_builder_add_value(&b, e); });
    GVariant *arr = g_variant_builder_end(&b);
    return reply_of(g_variant_new_tuple(&arr, 1));
}

// Borrowed entry with exactly this path, or null.
GVariant *entry_by_path(const State &st, const char *method, const char *path) {
    GVariant *found = nullptr;
    for_matching(st, method, "", path, [&](GVariant *e, const char *p) {
        if (!found && strcmp(p, path) == 0) found = g_variant_ref(e);
    });
    return found;
}

Answer load_filtered(State &st, const char *method, GVariant *p) {
    gint32 selector;
    const char *filter;
    g_variant_get(p, "(i&s)", &selector, &filter);
    return entry_list(st, method, "", filter);
}

Answer load_all(State &st, const char *method, GVariant *) {
    return entry_list(st, method, "", "");
}

Answer load_by_obj_type(State &st, const char *method, GVariant *p) {
    gint32 selector;
    const char *type, *filter;
    g_variant_get(p, "(i&s&s)", &selector, &type, &filter);
    return entry_list(st, method, type, filter);
}

Answer count_by_obj_type(State &st, const char *method, GVariant *p) {
    gint32 selector;
    const char *type, *filter;
    g_variant_get(p, "(i&s&s)", &selector, &type, &filter);
    gint32 n = 0;
    for_matching(st, method, type, filter, [&n](GVariant *, const char *) { ++n; });
    return int_reply(n);
}

Answer load_by_path(State &st, const char *method, GVariant *p) {
    const char *path;
    g_variant_get(p, "(&s)", &path);
    GVariant *e = entry_by_path(st, method, path);
    if (!e) {
        Answer a;
        a.error.name = kErrInvalidArg;
        gchar *msg = g_strdup_printf(kMsgNoSuchEntry, path);
        a.error.message = msg;
        g_free(msg);
        return a;
    }
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

Answer kmod_load(State &st, const char *, GVariant *p) {
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
    }
    GVariant *arr = g_variant_builder_end(&b);
    return reply_of(g_variant_new_tuple(&arr, 1));
}

Answer bgset_set(State &st, const char *, GVariant *p) {
    const char *text;
    g_variant_get(p, "(&s)", &text);
    st.bgset = text;
    return int_reply(0);
}

Answer bgset_unset(State &st, const char *, GVariant *) {
    st.bgset.clear();
    return int_reply(0);
}

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
    {"lumek_whlist_import", zero},
    {"lumek_whlist_export", zero},
    {"lumek_whlist_protect_set_for_dpkg", zero},
    {"lumek_whlist_script_set_for_dpkg", zero},
    {"lumek_kmod_whlist_load", kmod_load},
    {"lumek_kmod_whlist_load_sm", kmod_load},
    {"lumek_bgset_set", bgset_set},
    {"lumek_bgset_unset", bgset_unset},
    {"lumek_memdb_whlist_exectl_load", load_all},
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

    ErrorInjection inj;
    if (st.take_error(method_name, &inj)) {
        send_error(invocation, inj);
        return;
    }
    if (GVariant *body = st.take_reply(method_name)) {
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
