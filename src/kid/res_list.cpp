// The file and directory resources of every kid of one kid type.
#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

int32_t load_res_list(uint32_t kid_type, uint32_t type, KidResItem **list) {
    if (!list) return kInvalid;
    KID_LOG("lumek_kid_whlist_load_res_list", "kid_type = %d, type = %d, ", kid_type, type);
    *list = nullptr;
    if (kid_type >= kTypeCount) return kInvalid;
    KidResRecord *raw = nullptr;
    int rc = lumek_kid_load_kid_res_list_by_kid_range(kLowestKid[kid_type], kHighestKid[kid_type], &raw);
    ResList res(raw);
    if (rc != 0) return rc;
    ListBuilder<KidResItem> out;
    for (const KidResRecord *r = res.get(); r; r = r->next) {
        if (!is_listed_res_type(r->res_type)) continue;
        KidResItem *item = out.push();
        if (!item) return kNoMemory;
        item->kid_type = kid_type;
        item->res_type = r->res_type;
        copy_field(item->path, sizeof item->path, r->path, sizeof r->path);
    }
    *list = out.release();
    return kOk;
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_res_list(uint32_t kid_type, uint32_t type,
                                                          KidResItem **list) {
    return guarded([&] { return load_res_list(kid_type, type, list); });
}

}  // extern "C"
