// Package identities: a third-app kid for an installed package, detaching a package's files
// from it, and raising an application to one of the shared level kids.
#include <stdio.h>

#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

constexpr size_t kMaxCallerPath = 4095;

// Caller files: a count that is not negative, and every element a path that fits a record.
bool valid_caller_files(char **files, int count) {
    if (!files) return true;
    if (count < 0) return false;
    for (int i = 0; i < count; ++i)
        if (!files[i] || strnlen(files[i], kMaxCallerPath + 1) > kMaxCallerPath) return false;
    return true;
}

KidInfoRecord make_info(uint32_t kid, const char *app_name, const char *pkg_name, uint32_t kid_type) {
    KidInfoRecord info;
    memset(&info, 0, sizeof info);
    info.kid = kid;
    copy_field(info.app_name, sizeof info.app_name, app_name);
    copy_field(info.pkg_name, sizeof info.pkg_name, pkg_name);
    info.kid_type = kid_type;
    return info;
}

std::string signed_text(int64_t kid) {
    char text[32];
    snprintf(text, sizeof text, "%d", static_cast<int>(kid));
    return text;
}

int32_t create_kid(const char *app_name, const char *pkg_name, char **files, int count) {
    if (!app_name || !pkg_name || !valid_caller_files(files, count)) return kInvalid;
    // No status file, or nothing installed: the check is skipped. One that is there but
    // cannot be read is no reason to label a package that may not be installed.
    std::vector<std::string> installed;
    StatusFile status = read_installed_pkg_list(installed);
    if (status == StatusFile::Unreadable || (!installed.empty() && !is_in_str_list(installed, pkg_name)))
        return kInvalid;

    int kid = lumek_kid_apply_for_kid(app_name, pkg_name, 0);
    if (kid < 0) return kid;

    std::vector<std::string> list;
    if (files) {
        list.assign(files, files + count);
    } else {
        auto own = get_file_list_of_pkg(pkg_name);
        if (!own) return kOk;  // the kid stays allocated, no file carries it
        list = std::move(*own);
    }
    if (list.empty()) return kOk;

    KidInfoRecord info = make_info(static_cast<uint32_t>(kid), app_name, pkg_name, kThirdAppType);
    std::vector<char *> ptrs = c_strings(list);
    int rc = lumek_kid_create_kid_data(ptrs.data(), static_cast<int>(ptrs.size()), info);
    if (rc != 0) return rc;
    return send_kid_batch(list, signed_text(kid).c_str());
}

int32_t remove_kid(const char *app_name) {
    if (!app_name) return kInvalid;
    int kid = lumek_kid_get_kid_by_app_name(app_name);
    if (!is_third_app(static_cast<uint32_t>(kid))) return kInvalid;

    KidResRecord *raw = nullptr;
    int rc = lumek_kid_load_kid_res_list(static_cast<uint32_t>(kid), &raw);
    ResList res(raw);
    if (rc != 0) return rc;
    if (!res) return kOk;
    std::vector<std::string> paths;
    for (const KidResRecord *r = res.get(); r; r = r->next)
        paths.emplace_back(r->path, strnlen(r->path, sizeof r->path));
    res.reset();

    std::vector<char *> ptrs = c_strings(paths);
    rc = lumek_kid_remove_kid_res_list(static_cast<uint32_t>(kid), kResFile, ptrs.data(),
                                       static_cast<int>(ptrs.size()));
    if (rc != 0) return rc;
    return send_kid_batch(paths, "0");
}

int32_t improve_kid(int type, const char *app_name) {
    constexpr const char *kTag = "lumek_kid_whlist_improve_kid";
    KID_LOG(kTag, "type = %d", type);
    if (!app_name || (type != 1 && type != 2)) return kInvalid;
    KID_LOG(kTag, "type = %d, app_name = %s", type, app_name);

    int old_kid = lumek_kid_get_kid_by_app_name(app_name);
    if (!is_third_app(static_cast<uint32_t>(old_kid))) return kInvalid;
    int32_t rc = remove_kid(app_name);
    if (rc != 0) return rc;

    uint32_t new_kid = kSharedKid[type];
    // The application's name doubles as its package's name.
    auto files = get_file_list_of_pkg(app_name);
    if (!files || files->empty()) return kOk;

    KidInfoRecord info = make_info(new_kid, app_name, app_name, static_cast<uint32_t>(type));
    std::vector<char *> ptrs = c_strings(*files);
    rc = lumek_kid_improve_kid_data(static_cast<uint32_t>(old_kid), ptrs.data(),
                                    static_cast<int>(ptrs.size()), info);
    if (rc != 0) return rc;
    return send_kid_batch(*files, signed_text(new_kid).c_str());
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_create_kid(const char *app_name, const char *pkg_name,
                                                       char **files, int count) {
    return guarded([&] { return create_kid(app_name, pkg_name, files, count); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_kid(const char *app_name) {
    return guarded([&] { return remove_kid(app_name); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_improve_kid(int type, const char *app_name) {
    return guarded([&] { return improve_kid(type, app_name); });
}

}  // extern "C"
