// Network control by kid: an application's programs, or one program file, in the
// framework's kid network-control list, and the list read back as package names and paths.
#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

constexpr int kProgramType = 0;

using NetctlList =
    std::unique_ptr<KidNetctlNode, FwListDeleter<KidNetctlNode, lumek_kid_free_kid_netctl_list>>;

KidNetctlRecord netctl_record(uint32_t kid, const char *path) {
    KidNetctlRecord r;
    memset(&r, 0, sizeof r);
    r.kid = kid;
    r.flag = 1;
    copy_field(r.path, sizeof r.path, path);
    return r;
}

// The records for @subject, or nullopt with @rc set (-1021, -1011).
std::optional<std::vector<KidNetctlRecord>> subject_records(uint32_t type, const char *subject, int32_t &rc) {
    std::vector<KidNetctlRecord> records;
    if (type == LUMEK_KID_SUBJECT_FILE) {
        // The path goes to the framework as the caller wrote it.
        std::optional<uint32_t> kid = kid_of_path(subject);
        if (!kid || *kid == 0) {
            rc = kNoKid;
            return std::nullopt;
        }
        records.push_back(netctl_record(*kid, subject));
        return records;
    }
    int kid = lumek_kid_get_kid_by_app_name(subject);
    if (kid < 1) {
        rc = kNoKid;
        return std::nullopt;
    }
    // The application's name is its package's name.
    auto files = get_file_list_of_pkg(subject);
    if (!files) {
        rc = kNoFileList;
        return std::nullopt;
    }
    for (const std::string &f : *files)
        if (parse_file_type(f.c_str()) == kProgramType)
            records.push_back(netctl_record(static_cast<uint32_t>(kid), f.c_str()));
    return records;
}

int32_t change_netctl(bool add, uint32_t type, const char *subject) {
    if (type > 1 || !subject) return kInvalid;
    if (add) KID_LOG("lumek_kid_whlist_add_kid_netctl", "type = %d, subject = %s", type, subject);
    int32_t rc = kOk;
    auto records = subject_records(type, subject, rc);
    if (!records) return rc;
    KidNetctlRecord *data = records->empty() ? nullptr : records->data();
    int n = static_cast<int>(records->size());
    return add ? lumek_kid_create_kid_netctl(data, n) : lumek_kid_remove_kid_netctl(data, n);
}

bool push_item(ListBuilder<KidNetctlItem> &out, uint32_t type, const char *name, size_t name_cap) {
    KidNetctlItem *item = out.push();
    if (!item) return false;
    item->type = type;
    copy_field(item->name, sizeof item->name, name, name_cap);
    return true;
}

bool same_path(const char *a, size_t a_cap, const char *b, size_t b_cap) {
    size_t la = strnlen(a, a_cap), lb = strnlen(b, b_cap);
    return la == lb && memcmp(a, b, la) == 0;
}

// The resources of kid 9999, loaded at most once per listing.
class Level2Resources {
  public:
    const KidResRecord *get(bool &ok) {
        if (!tried_) {
            tried_ = true;
            KidResRecord *raw = nullptr;
            ok_ = lumek_kid_load_kid_res_list(kLevel2Kid, &raw) == 0;
            list_.reset(raw);
        }
        ok = ok_;
        return list_.get();
    }

  private:
    bool tried_ = false, ok_ = false;
    ResList list_;
};

int32_t load_netctl_list(KidNetctlItem **list) {
    if (!list) return kInvalid;
    *list = nullptr;
    KidNetctlNode *raw = nullptr;
    int rc = lumek_kid_load_kid_netctl(&raw);
    NetctlList entries(raw);
    if (rc != 0) return rc;

    ListBuilder<KidNetctlItem> out;
    Level2Resources level2;
    uint32_t last = 0;
    for (const KidNetctlNode *e = entries.get(); e; e = e->next) {
        const KidNetctlRecord &r = e->netctl;
        std::string path(r.path, strnlen(r.path, sizeof r.path));
        if (r.kid == last || path_is_exist(path.c_str()) != 1) continue;
        if (is_third_app(r.kid)) {
            KidInfoNode *info_raw = nullptr;
            KidResRecord *res_raw = nullptr;
            int drc = lumek_kid_load_kid_data(r.kid, &info_raw, &res_raw);
            InfoList info(info_raw);
            ResList res(res_raw);
            if (drc != 0) continue;
            for (const KidInfoNode *n = info.get(); n; n = n->next)
                if (!push_item(out, LUMEK_KID_SUBJECT_APP, n->info.pkg_name, sizeof n->info.pkg_name))
                    return kNoMemory;
        } else if (r.kid != kLevel2Kid) {
            if (!push_item(out, LUMEK_KID_SUBJECT_FILE, r.path, sizeof r.path)) return kNoMemory;
        } else {
            bool ok = false;
            const KidResRecord *res = level2.get(ok);
            if (!ok) continue;
            for (; res; res = res->next) {
                if (res->res_type != kResFile ||
                    !same_path(res->path, sizeof res->path, r.path, sizeof r.path))
                    continue;
                std::string rpath(res->path, strnlen(res->path, sizeof res->path));
                if (path_is_exist(rpath.c_str()) != 1) continue;
                bool pushed = res->app_name[0] != '\0'
                                  ? push_item(out, LUMEK_KID_SUBJECT_APP, res->app_name, sizeof res->app_name)
                                  : push_item(out, LUMEK_KID_SUBJECT_FILE, res->path, sizeof res->path);
                if (!pushed) return kNoMemory;
                break;
            }
        }
        last = r.kid;
    }
    *list = out.release();
    return kOk;
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_kid_netctl(uint32_t type, const char *subject) {
    return guarded([&] { return change_netctl(true, type, subject); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_kid_netctl(uint32_t type, const char *subject) {
    return guarded([&] { return change_netctl(false, type, subject); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_netctl_list(KidNetctlItem **list) {
    return guarded([&] { return load_netctl_list(list); });
}

}  // extern "C"
