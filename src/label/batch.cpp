// Labelling a caller's array of files in one batch.
#include <string.h>

#include "core/last_error.h"
#include "label/label_internal.h"

namespace lumek::label {

namespace {

int32_t label_many_files(int kind, int op, const char **paths, int count) {
    if (!paths || count <= 0) return report_invalid_argument();
    MarkList marks(static_cast<size_t>(count));  // zeroed: an undecidable file stays empty
    Decider decider;
    DepScanner scan;
    for (int i = 0; i < count; ++i) {
        const char *p = paths[i];
        Decision d = decider.decide(kind, op, p);
        const char *path = d.label ? rewrite_user_data_path(p) : nullptr;
        size_t len = 0;
        // A path cut to fit the record could name another, existing file.
        if (!d.label || !fits_record(path, &len)) {
            log_line(kMsgInvalidAttr, p ? p : "(null)");
            continue;
        }
        // Filled where it lies: the list is zeroed already.
        MarkRecord &r = marks[static_cast<size_t>(i)];
        memcpy(r.path, path, len);
        strncpy(r.label, d.label->c_str(), sizeof r.label - 1);
        // The decision already asked for the type of this very path.
        int type = path == p ? d.file_type : parse_file_type(path);
        if (kind == kKindExectl && op != kOpDelete && type == LUMEK_OBJ_PROGRAM)
            exectl_ldd_set(scan, path, d.label->c_str());
    }
    int rc = kind_is_exectl(kind) ? lumek_exectl_multi_set(marks.data(), count)
                                  : lumek_protect_multi_set(marks.data(), count);
    return report_batch_result(rc);
}

}  // namespace

}  // namespace lumek::label

using namespace lumek::label;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_multi_add(int32_t kind, const char **paths,
                                                             int32_t count) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_LABEL_SET,
                            [&] { return label_many_files(kind, kOpAdd, paths, count); });
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_multi_delete(int32_t kind, const char **paths,
                                                                int32_t count) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_LABEL_SET,
                            [&] { return label_many_files(kind, kOpDelete, paths, count); });
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_multi_update(int32_t kind, const char **paths,
                                                                int32_t count) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_LABEL_SET,
                            [&] { return label_many_files(kind, kOpUpdate, paths, count); });
}
