// The label decision: which exectl label or protection text a file takes for a kind of
// whitelist and an operation, from its type and the data lists.
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include <new>

#include "core/last_error.h"
#include "label/label_internal.h"

namespace lumek::label {

void log_line(const char *fmt, ...) noexcept {
    // Whole, however long: a path in the line is what an administrator looks for.
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string buf(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) vsnprintf(&buf[0], buf.size() + 1, fmt, again);
    va_end(again);
    lumek_log(kLogLevelError, 0, nullptr, "%s", buf.c_str());
}

namespace {

Decision text(int rule, const char *label, int file_type = -1) {
    Decision d;
    d.rule = rule;
    if (label) d.label = label;
    d.file_type = file_type;
    return d;
}

bool kind_accepts(int kind, int type) {
    switch (kind) {
        case kKindExectl:
            return type <= 2;
        case kKindProtect:
            return true;
        case kKindKmod:
            return type == 3;
        default:
            return false;
    }
}

}  // namespace

std::optional<ListHit> Decider::lookup(const std::string &abs_path) {
    if (!lists_) lists_ = ListSet::load_all();
    for (size_t i = 0; i < lists_->size(); ++i) {
        if (auto hit = (*lists_)[i].find(abs_path)) {
            hit->list = static_cast<int>(i);
            return hit;
        }
    }
    return std::nullopt;
}

// A file that is not a link is named by its directory's absolute form and its own name,
// whether the framework's absolute path resolves links or only folds "." and "..". So the
// framework is asked once per directory of a call, not once per file. Links and files it
// cannot classify are asked about as they are.
std::optional<std::string> Decider::absolute_path(const char *path, int type) {
    const char *slash = strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    // A name that "." or ".." would fold away, or none at all, is no name of a file.
    bool plain_name = *name && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
    if (!type_classified(type) || !plain_name) {
        MallocPtr abs(get_absolute_path(path));
        if (!abs) return std::nullopt;
        return std::string(abs.get());
    }
    std::string dir = !slash ? std::string(".") : slash == path ? std::string("/") : std::string(path, slash);
    auto it = dirs_.find(dir);
    if (it == dirs_.end()) {
        MallocPtr abs(get_absolute_path(dir.c_str()));
        it = dirs_.emplace(std::move(dir), abs ? std::optional<std::string>(abs.get()) : std::nullopt).first;
    }
    if (!it->second) return std::nullopt;
    std::string out = *it->second;
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

Decision Decider::decide(int kind, int op, const char *path) {
    // A NULL path is undecidable; the framework's probes are never asked about it.
    if (!path) return text(LUMEK_LABEL_RULE_UNCLASSIFIED, nullptr);
    // A file the probe classifies exists: the existence probe is asked only when it does not.
    int type = parse_file_type(path);
    bool classified = type_classified(type);
    if (!classified && path_is_exist(path) < 0)
        return text(LUMEK_LABEL_RULE_MISSING, kind == kKindProtect ? kProtectNone : kLabelUnknown);
    if (!classified) return text(LUMEK_LABEL_RULE_UNCLASSIFIED, nullptr, type);
    if (kind == kKindProtect)
        return text(LUMEK_LABEL_RULE_PROTECT, op_chooses(op) ? kProtectReadonly : kProtectNone, type);
    if (!kind_accepts(kind, type)) return text(LUMEK_LABEL_RULE_WRONG_KIND, nullptr, type);
    if (!op_chooses(op)) return text(LUMEK_LABEL_RULE_DELETE, kLabelUnknown, type);
    std::optional<std::string> abs = absolute_path(path, type);
    if (!abs) return text(LUMEK_LABEL_RULE_NO_ABSOLUTE, kLabelUnknown, type);
    Decision d;
    d.file_type = type;
    d.hit = lookup(*abs);
    if (d.hit) {
        d.rule = LUMEK_LABEL_RULE_LISTED;
        d.label = kDataLists[d.hit->list].label;
    } else {
        d.rule = LUMEK_LABEL_RULE_NOT_LISTED;
        d.label = kLabelVerified;
    }
    return d;
}

const char *Decider::list_label(const char *path, int type) {
    std::optional<std::string> abs = absolute_path(path, type);
    if (!abs) return kLabelUnknown;
    auto hit = lookup(*abs);
    return hit ? kDataLists[hit->list].label : kLabelVerified;
}

MallocPtr Decider::choose_label(int kind, int op, const char *path) {
    Decision d = decide(kind, op, path);
    if (!d.label) return nullptr;
    MallocPtr buf(static_cast<char *>(calloc(1, kLabelSize)));
    // A file left out for want of its label buffer would let the batch report success
    // without it: the whole operation fails instead.
    if (!buf) throw std::bad_alloc();
    strncpy(buf.get(), d.label->c_str(), kLabelSize - 1);
    return buf;
}

MallocPtr choose_label(int kind, int op, const char *path) {
    Decider decider;
    return decider.choose_label(kind, op, path);
}

int probe_exectl_state(const char *path, std::string *label_out, ProbeFailure *failure) {
    char *label = nullptr;
    if (int rc = lumek_exectl_get(path, &label); rc != 0) {
        int e = errno;
        free(label);
        if (e == ENODATA || e == EOPNOTSUPP || e == ENOENT) return kStateNone;
        if (failure) *failure = ProbeFailure{rc, e};
        return kStateUnreadable;
    }
    MallocPtr owned(label);
    if (label_out && label) *label_out = label;
    return (label && strcmp(label, kLabelUnknown) == 0) ? kStateUnknown : kStateLabelled;
}

int has_skipped_extension(const char *path) {
    if (!path) return 0;
    const char *dot = strrchr(path, '.');
    if (!dot) return 0;
    for (const char *ext : kSkippedExtensions)
        if (strcmp(dot, ext) == 0) return 1;
    return 0;
}

}  // namespace lumek::label
