// What the daemon knows without served data: the files the framework stand-in holds labels
// or protection texts for, its protected modules, and the bgset text, all read from the
// stand-in's state directory (the one the sandbox names), so every process sees one state.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "daemon_internal.h"
#include "standin_control.h"

namespace whlistd {

namespace {

const char *const kTypeTexts[] = {"program", "library", "script", "kmodule", "other", "link"};

const char *type_text(int type) {
    return type >= 0 && type < 6 ? kTypeTexts[type] : "other";
}

// Upper-case hexadecimal MD5 of a regular file's contents; "" when it cannot be read.
std::string file_md5(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return "";
    }
    GChecksum *sum = g_checksum_new(G_CHECKSUM_MD5);
    char buf[65536];
    ssize_t n;
    bool ok = true;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        g_checksum_update(sum, reinterpret_cast<const guchar *>(buf), n);
    }
    close(fd);
    std::string out = ok ? g_checksum_get_string(sum) : "";
    g_checksum_free(sum);
    for (char &c : out) c = static_cast<char>(g_ascii_toupper(c));
    return out;
}

}  // namespace

std::vector<FileEntry> labelled_files(bool sm, bool utf8_only) {
    std::vector<FileEntry> out;
    int n = 0;
    LumekStandinEntry *entries = lumek_standin_entries(sm ? 1 : 0, &n);
    if (!entries) return out;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const LumekStandinEntry &e = entries[i];
        // D-Bus carries only UTF-8; export writes the others escaped.
        if (utf8_only &&
            !(g_utf8_validate(e.path, -1, nullptr) && (!e.label || g_utf8_validate(e.label, -1, nullptr)) &&
              (!e.protect || g_utf8_validate(e.protect, -1, nullptr))))
            continue;
        FileEntry f;
        f.path = e.path;
        f.label = e.label ? e.label : "";
        f.protect = e.protect ? e.protect : "";
        f.type = type_text(e.file_type);
        f.exists = e.file_type >= 0 || access(e.path, F_OK) == 0;
        out.push_back(std::move(f));
    }
    lumek_standin_free_entries(entries, n);
    return out;
}

GVariant *file_entry_tuple(const FileEntry &f) {
    std::string hash = file_md5(f.path);
    return g_variant_new("(sssssii)", f.path.c_str(), hash.c_str(), f.type.c_str(), f.label.c_str(),
                         f.protect.c_str(), f.exists ? 1 : 0, 0);
}

std::vector<std::string> protected_modules(bool sm) {
    std::vector<std::string> out;
    int n = 0;
    char **names = lumek_standin_kmods(sm ? 1 : 0, &n);
    if (!names) return out;
    for (int i = 0; i < n; ++i)
        if (g_utf8_validate(names[i], -1, nullptr)) out.emplace_back(names[i]);
    lumek_standin_free_lines(names, n);
    return out;
}

bool rtdb_entries(std::vector<GVariant *> *out) {
    constexpr int kRtdbKey = 10000, kLabelColumns = 7, kInt = 3, kText = 5;
    int n = 0;
    LumekStandinMemdbRecord *recs = lumek_standin_memdb_records(kRtdbKey, &n);
    if (!recs) return false;
    for (int i = 0; i < n; ++i) {
        const LumekStandinMemdbRecord &r = recs[i];
        const int want[kLabelColumns] = {kInt, kText, kText, kText, kInt, kText, kInt};
        bool shaped = r.count == kLabelColumns && r.number[0] == 0;
        for (int c = 0; shaped && c < kLabelColumns; ++c) shaped = r.type[c] == want[c];
        for (int c : {1, 2, 3, 5}) shaped = shaped && g_utf8_validate(r.text[c], -1, nullptr);
        if (!shaped) continue;
        char *protect = lumek_standin_protection(r.text[1], 0);
        if (protect && !g_utf8_validate(protect, -1, nullptr)) {
            free(protect);
            continue;
        }
        out->push_back(g_variant_new("(sssssii)", r.text[1], r.text[5], r.text[3], r.text[2],
                                     protect ? protect : "", access(r.text[1], F_OK) == 0 ? 1 : 0,
                                     r.number[4]));
        free(protect);
    }
    lumek_standin_memdb_free_records(recs, n);
    return true;
}

bool store_bgset(const char *text) {
    return lumek_standin_set_text(kBgsetKey, text) == 0;
}

bool import_lines(const std::vector<FileLine> &lines) {
    auto apply = [](void *ctx) -> int {
        for (const FileLine &l : *static_cast<const std::vector<FileLine> *>(ctx)) {
            if (!l.label.empty() && lumek_standin_set_label(l.path.c_str(), l.label.c_str()) != 0) return -1;
            if (!l.protect.empty() && lumek_standin_set_protection(l.path.c_str(), l.protect.c_str(), 0) != 0)
                return -1;
        }
        return 0;
    };
    return lumek_standin_transaction(apply, const_cast<std::vector<FileLine> *>(&lines)) == 0;
}

}  // namespace whlistd
