// lumekctl call METHOD [ARGS]: one raw method call to the whitelist daemon.
#include <stdint.h>

#include <iostream>
#include <memory>

#include <gio/gio.h>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

struct VariantUnref {
    void operator()(GVariant *v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// GVariant to JSON: containers become arrays (dictionaries objects), bytes and numbers
// numbers, everything textual a string.
nlohmann::json to_json(GVariant *v) {
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN)) return static_cast<bool>(g_variant_get_boolean(v));
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BYTE)) return g_variant_get_byte(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT16)) return g_variant_get_int16(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT16)) return g_variant_get_uint16(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32)) return g_variant_get_int32(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) return g_variant_get_uint32(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT64)) return g_variant_get_int64(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT64)) return g_variant_get_uint64(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_HANDLE)) return g_variant_get_handle(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_DOUBLE)) return g_variant_get_double(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) ||
        g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH) ||
        g_variant_is_of_type(v, G_VARIANT_TYPE_SIGNATURE))
        return g_variant_get_string(v, nullptr);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
        Variant inner(g_variant_get_variant(v));
        return to_json(inner.get());
    }
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_DICTIONARY)) {
        nlohmann::json obj = nlohmann::json::object();
        for (gsize i = 0, n = g_variant_n_children(v); i < n; ++i) {
            Variant entry(g_variant_get_child_value(v, i));
            Variant key(g_variant_get_child_value(entry.get(), 0));
            Variant val(g_variant_get_child_value(entry.get(), 1));
            std::string k = g_variant_is_of_type(key.get(), G_VARIANT_TYPE_STRING)
                                ? g_variant_get_string(key.get(), nullptr)
                                : to_json(key.get()).dump();
            obj[k] = to_json(val.get());
        }
        return obj;
    }
    nlohmann::json arr = nlohmann::json::array();
    if (g_variant_is_container(v)) {
        for (gsize i = 0, n = g_variant_n_children(v); i < n; ++i) {
            Variant child(g_variant_get_child_value(v, i));
            arr.push_back(to_json(child.get()));
        }
    }
    return arr;
}

void run_call(const Options &opts, const std::string &method, const std::string &args_text) {
    GVariant *params = nullptr;
    Variant parsed;  // a full reference, ours to release: the library consumes only a floating one
    if (!args_text.empty()) {
        GError *err = nullptr;
        parsed.reset(g_variant_parse(nullptr, args_text.c_str(), nullptr, nullptr, &err));
        if (!parsed) {
            fail("call", std::string("cannot parse arguments: ") + err->message);
            g_error_free(err);
            return;
        }
        params = parsed.get();
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE_TUPLE)) {
            // A single value is the usual thing to type; wrap it into the tuple D-Bus wants.
            GVariant *single = params;
            params = g_variant_new_tuple(&single, 1);
        }
    }
    int32_t result = 0;
    Variant reply(lumek_whlist_process_dbus_method(method.c_str(), params, &result));
    if (!reply) {
        std::string text = lumek_whlist_last_err();
        while (!text.empty() && text.back() == '\n') text.pop_back();
        if (result == 0)
            fail(method, "no reply: the system bus could not be reached (result 0)");
        else
            fail(method, "result " + std::to_string(result) + (text.empty() ? "" : ": " + text));
        return;
    }
    if (opts.json) {
        print_json({{"method", method}, {"reply", to_json(reply.get())}});
    } else {
        gchar *printed = g_variant_print(reply.get(), FALSE);
        std::cout << printed << '\n';
        g_free(printed);
    }
}

}  // namespace

void add_call_commands(CLI::App &app, const Options &opts) {
    auto *cmd = app.add_subcommand("call", "Call one method of the whitelist daemon and print its reply");
    auto method = std::make_shared<std::string>();
    auto args = std::make_shared<std::string>();
    cmd->add_option("METHOD", *method, "Method name, for example lumek_whlist_load_all")->required();
    cmd->add_option("ARGS", *args,
                    "Arguments in GVariant text form, for example \"(0, '/usr/bin')\"; "
                    "a single value is wrapped into a tuple");
    cmd->callback([&opts, method, args] { run_call(opts, *method, *args); });
}

}  // namespace lumekctl
