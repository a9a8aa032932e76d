// The framework's data lists, read once per call into hash sets of their lines and of the
// lines' real paths.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include "label/label_internal.h"

namespace lumek::label {

ListSet ListSet::load_one(const char *file) {
    ListSet set;
    FilePtr f(fopen(file, "re"));
    if (!f) return set;
    char *buf = nullptr;
    size_t cap = 0;
    ssize_t n;
    int line_no = 0;
    while ((n = getline(&buf, &cap, f.get())) >= 0) {
        ++line_no;
        std::string line(buf, static_cast<size_t>(n));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        // An empty line names nothing: its real path cannot equal an absolute path.
        if (line.empty()) continue;
        size_t idx = set.lines_.size();
        set.lines_.push_back(line);
        // Earlier lines win, and a line's own text before its real path.
        set.index_.emplace(line, Entry{line_no, false, idx});
        if (line.size() < PATH_MAX) {
            MallocPtr real(realpath(line.c_str(), nullptr));
            if (real) set.index_.emplace(real.get(), Entry{line_no, true, idx});
        }
    }
    free(buf);
    return set;
}

std::vector<ListSet> ListSet::load_all() {
    std::vector<ListSet> out;
    out.reserve(kDataListCount);
    for (const DataList &d : kDataLists) out.push_back(load_one(d.file));
    return out;
}

std::optional<ListHit> ListSet::find(const std::string &abs_path) const {
    auto it = index_.find(abs_path);
    if (it == index_.end()) return std::nullopt;
    ListHit hit;
    hit.line = it->second.line;
    // A line equal to the path matches as itself even when it was indexed through another
    // line's real path first.
    hit.by_real_path = it->second.by_real_path && lines_[it->second.text] != abs_path;
    hit.text = lines_[it->second.text];
    return hit;
}

int path_in_list(const char *list_file, const char *absolute_path) {
    if (!list_file || !absolute_path) return 0;
    return ListSet::load_one(list_file).find(absolute_path) ? 1 : 0;
}

}  // namespace lumek::label
