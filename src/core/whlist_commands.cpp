// Daemon commands (import, export, the package-manager commands, bgset), the framework
// pass-throughs of this family and kernel-module removal protection.
#include "common/raii.h"
#include "core/framework.h"
#include "core/last_error.h"
#include "core/whlist_internal.h"
#include "lumekwhlist.h"

namespace lumek {

namespace {

// Calls @method with @params (floating, consumed); the reply's integer, the client's result
// without a reply, or -1011 for a reply of another type.
int32_t int_command(const char *method, GVariant *params) noexcept {
    int32_t rc = 0;
    GVariantPtr reply(lumek_whlist_process_dbus_method(method, params, &rc));
    if (!reply) return rc;
    int32_t value = 0;
    if (int32_t bad = decode_int(method, reply.get(), &value)) return bad;
    return value;
}

int32_t transfer(const char *method, int32_t selector, const char *text) noexcept {
    if (!dbus_text_ok(text)) return report_invalid_argument();
    return int_command(method, g_variant_new("(is)", selector, text));
}

// The package-manager commands do nothing while the framework is disabled, not even ask.
int32_t dpkg_command(const char *method) noexcept {
    if (lumek_getstatus() == 0) return 0;
    return int_command(method, nullptr);
}

}  // namespace

}  // namespace lumek

using namespace lumek;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_import(int32_t selector, const char *text) {
    return transfer("lumek_whlist_import", selector, text);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_export(int32_t selector, const char *text) {
    return transfer("lumek_whlist_export", selector, text);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_protect_set_for_dpkg(void) {
    return dpkg_command("lumek_whlist_protect_set_for_dpkg");
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_script_set_for_dpkg(void) {
    return dpkg_command("lumek_whlist_script_set_for_dpkg");
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_bgset_set(const char *text) {
    if (!dbus_text_ok(text)) return report_invalid_argument();
    return int_command("lumek_bgset_set", g_variant_new("(s)", text));
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_bgset_unset(void) {
    return int_command("lumek_bgset_unset", nullptr);
}

extern "C" LUMEKWHLIST_PUBLIC int lumek_whlist_is_secadm(void) {
    return is_secadm();
}

extern "C" LUMEKWHLIST_PUBLIC int lumek_whlist_is_auditadm(void) {
    return is_auditadm();
}

extern "C" LUMEKWHLIST_PUBLIC int lumek_whlist_getstatus(void) {
    return lumek_getstatus();
}

extern "C" LUMEKWHLIST_PUBLIC int lumek_whlist_setstatus(int status) {
    return lumek_setstatus(status);
}

extern "C" LUMEKWHLIST_PUBLIC int lumek_whlist_get_func_status(int func) {
    return lumek_get_func_status(func);
}

extern "C" LUMEKWHLIST_PUBLIC int lumek_whlist_set_func_status(int func, int value) {
    return lumek_set_func_status(func, value);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update_rmmodpro(int32_t flag, const char *name) {
    if (!name) return report_invalid_argument();
    return flag == 0 ? remove_from_kmod_protect(name) : add_to_kmod_protect(name);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update_rmmodpro_sm(int32_t flag, const char *name) {
    if (!name) return report_invalid_argument();
    return flag == 0 ? remove_from_kmod_protect_sm(name) : add_to_kmod_protect_sm(name);
}
