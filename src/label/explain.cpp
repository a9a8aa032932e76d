// Why a file gets its label: the decision with its reason, beside the label held now.
#include <string.h>

#include "core/last_error.h"
#include "label/label_internal.h"

using namespace lumek::label;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_label_explain(int32_t kind, int32_t op, const char *path,
                                                                 LumekLabelReason *out) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_INVALID_ARG, [&]() -> int32_t {
        if (!path || !out) return lumek::report_invalid_argument();
        Decider decider;
        Decision d = decider.decide(kind, op, path);
        LumekLabelReason r{};
        if (d.label) strncpy(r.label, d.label->c_str(), sizeof r.label - 1);
        r.rule = d.rule;
        r.file_type = d.file_type;
        if (d.hit) {
            r.list_file = kDataLists[d.hit->list].file;
            r.line = d.hit->line;
            r.by_real_path = d.hit->by_real_path ? 1 : 0;
            strncpy(r.matched, d.hit->text.c_str(), sizeof r.matched - 1);
        }
        r.skipped_extension = has_skipped_extension(path);
        std::string current;
        r.current_state = probe_exectl_state(path, &current);
        strncpy(r.current, current.c_str(), sizeof r.current - 1);
        *out = r;
        return LUMEK_WHLIST_OK;
    });
}
