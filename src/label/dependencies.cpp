// Finding a program's direct shared-library dependencies: read from the file and located
// in-process where that gives the tools' answer, else with the object-file tools, run
// without a shell, their output filtered here the way the classic pipelines filtered it.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "common/spawn.h"
#include "label/elf_needed.h"
#include "label/label_internal.h"

namespace lumek::label {

namespace {

constexpr char kObjdump[] = "/usr/bin/objdump";
constexpr char kWhereis[] = "whereis";
constexpr char kUnsafeChars[] = ";&|><()`'\"";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Splits @text into lines without their newlines; a last line without one counts too.
std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

}  // namespace

bool has_unsafe_char(const char *text) {
    return strpbrk(text, kUnsafeChars) != nullptr;
}

bool library_name_unsafe(const std::string &name) {
    // A leading "-" would be read as an option of whereis.
    return has_unsafe_char(name.c_str()) || (!name.empty() && name[0] == '-');
}

std::vector<std::string> needed_from_objdump(const std::string &out) {
    std::vector<std::string> names;
    for (const std::string &line : lines_of(out)) {
        if (line.find("NEEDED") == std::string::npos) continue;
        // awk's second field: blanks separate fields and leading blanks are ignored.
        size_t i = 0, field = 0;
        std::string second;
        while (i < line.size()) {
            while (i < line.size() && is_blank(line[i])) ++i;
            if (i == line.size()) break;
            size_t start = i;
            while (i < line.size() && !is_blank(line[i])) ++i;
            if (++field == 2) {
                second = line.substr(start, i - start);
                break;
            }
        }
        // awk printed an empty line here, and the reading loop stopped at it.
        if (second.empty()) break;
        names.push_back(std::move(second));
    }
    return names;
}

std::optional<std::string> whereis_candidate(const std::string &line) {
    size_t slash = line.find('/');
    if (slash == std::string::npos) return std::nullopt;
    size_t end = slash;
    while (end < line.size() && !is_blank(line[end])) ++end;
    return line.substr(slash, end - slash);
}

std::optional<std::vector<std::string>> objdump_needed(const char *program) {
    SpawnOptions so;
    so.capture_stdout = true;
    // "--" keeps a program path that starts with "-" a file name.
    SpawnResult r = run_command({kObjdump, "-p", "--", program}, so);
    if (!r.ran) return std::nullopt;
    return needed_from_objdump(r.out);
}

std::optional<std::vector<std::string>> DepScanner::needed_names(const char *program) {
    auto known = needed_.find(program);
    if (known != needed_.end()) return known->second;
    std::optional<std::vector<std::string>> names = elf_needed_file(program);
    if (!names) {
        ++processes_;
        names = objdump_needed(program);
    }
    needed_.emplace(program, names);
    return names;
}

// The lines whereis printed for @names (one per name, in order, when all went well);
// nullopt when it could not be run.
std::optional<std::vector<std::string>> DepScanner::ask_whereis(bool binaries_only,
                                                                const std::vector<std::string> &names) {
    SpawnOptions so;
    so.search_path = true;  // the tool has always been found through PATH
    so.capture_stdout = true;
    std::vector<std::string> argv{kWhereis};
    if (binaries_only) argv.push_back("-b");
    argv.insert(argv.end(), names.begin(), names.end());
    ++processes_;
    SpawnResult r = run_command(argv, so);
    if (!r.ran) return std::nullopt;
    return lines_of(r.out);
}

// whereis lists binaries before manual pages and sources, so the first location of its full
// answer is the first binary whenever there is one. Most are found in-process; the others
// are asked for binaries in one run, and only names without one are asked in full.
std::vector<DepScanner::Location> DepScanner::locate(const std::vector<std::string> &names) {
    std::vector<std::string> todo;
    for (const auto &n : names)
        if (!where_.count(n) && std::find(todo.begin(), todo.end(), n) == todo.end()) {
            if (auto found = whereis_first_binary(n))
                where_.emplace(n, Location{true, std::move(found)});
            else
                todo.push_back(n);
        }
    std::vector<std::string> full;
    if (!todo.empty()) {
        auto lines = ask_whereis(true, todo);
        if (lines && lines->size() == todo.size()) {
            for (size_t i = 0; i < todo.size(); ++i) {
                std::optional<std::string> found = whereis_candidate((*lines)[i]);
                if (found)
                    where_.emplace(todo[i], Location{true, std::move(found)});
                else
                    full.push_back(todo[i]);
            }
        } else {
            full = todo;
        }
    }
    if (!full.empty()) {
        auto lines = ask_whereis(false, full);
        if (lines && lines->size() == full.size()) {
            for (size_t i = 0; i < full.size(); ++i)
                where_.emplace(full[i], Location{true, whereis_candidate((*lines)[i])});
        } else {
            // Not the answer expected: ask for each name on its own.
            for (const auto &n : full) {
                auto one = ask_whereis(false, {n});
                Location loc;
                loc.ran = one.has_value();
                if (one && !one->empty()) loc.candidate = whereis_candidate((*one)[0]);
                where_.emplace(n, loc);
            }
        }
    }
    std::vector<Location> out;
    out.reserve(names.size());
    for (const auto &n : names) out.push_back(where_[n]);
    return out;
}

std::optional<std::string> DepScanner::real_path(const std::string &path) {
    auto it = real_.find(path);
    if (it != real_.end()) return it->second;
    std::optional<std::string> res;
    if (path.size() < PATH_MAX) {
        MallocPtr real(realpath(path.c_str(), nullptr));
        if (real) res = std::string(real.get());
    }
    real_.emplace(path, res);
    return res;
}

}  // namespace lumek::label
