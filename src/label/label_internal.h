// File labelling engine: the label decision over the framework's data lists, mark lists
// by package and by directory, single-file and batch labelling, and shared-library
// dependencies. Private to src/label and to the package-manager hooks built on it: a hook
// loads a ListSet once per call and asks choose_label (or decide) for every path.
#pragma once

#include "common/edge.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/raii.h"
#include "core/framework.h"
#include "lumekwhlist.h"

namespace lumek::label {

// ---- Vocabulary -------------------------------------------------------------------------

inline constexpr int kKindExectl = LUMEK_KIND_EXECTL;
inline constexpr int kKindProtect = LUMEK_KIND_PROTECT;
inline constexpr int kKindKmod = LUMEK_KIND_KMOD;
inline constexpr int kOpAdd = LUMEK_OP_ADD;
inline constexpr int kOpDelete = LUMEK_OP_DELETE;
inline constexpr int kOpUpdate = LUMEK_OP_UPDATE;

// add and update choose afresh; every other op value removes.
inline bool op_chooses(int op) {
    return op == kOpAdd || op == kOpUpdate;
}
// The type probe named one of the five kinds of file (program to other); a negative or
// link answer names none.
inline bool type_classified(int type) {
    return type >= LUMEK_OBJ_PROGRAM && type <= LUMEK_OBJ_OTHER;
}
// Exectl setters for kinds 0 and 2, protection setters for every other value.
inline bool kind_is_exectl(int kind) {
    return kind == kKindExectl || kind == kKindKmod;
}

inline constexpr size_t kLabelSize = 32;
inline constexpr size_t kPathField = sizeof(MarkRecord::path);  // a path must fit with its NUL

inline constexpr const char kLabelUnknown[] = "unknown";
inline constexpr const char kLabelVerified[] = "verified";
inline constexpr const char kProtectReadonly[] = "readonly";
inline constexpr const char kProtectNone[] = "none";

// The data lists in lookup order, and the label each gives.
struct DataList {
    const char *file;
    const char *label;
};
inline constexpr DataList kDataLists[] = {
    {"/usr/share/lumek-utils/data/vordsw_list", "vordsw"},
    {"/usr/share/lumek-utils/data/trust_list", "trusted"},
    {"/usr/share/lumek-utils/data/parent_list", "parent"},
    {"/usr/share/lumek-utils/data/script_list", "script"},
};
inline constexpr size_t kDataListCount = sizeof kDataLists / sizeof kDataLists[0];

// Data files the package hooks leave alone, by the text from the path's last ".".
inline constexpr const char *kSkippedExtensions[] = {".h",    ".c",   ".xml", ".txt", ".png", ".html",
                                                     ".gif",  ".bmp", ".jpg", ".cpp", ".js",  ".svg",
                                                     ".json", ".md",  ".map", ".css"};

// Messages (log and last-error buffer).
inline constexpr const char kMsgInvalidAttr[] = "%s: invalid file attribute\n";
inline constexpr const char kMsgSetterFailed[] = "%s: %s\n";
inline constexpr const char kMsgNoMarkList[] = "%s: get lumek mark list failed\n";
inline constexpr const char kMsgPathTooLong[] = "%.64s...: path of %zu bytes is too long, skipped\n";
inline constexpr const char kMsgPathIsDir[] = "%s: path is dir!";
inline constexpr const char kMsgPathInvalid[] = "path is invalid!";
inline constexpr const char kMsgBadType[] = "%s: Incorrect file type! path: %s, type: %d";
inline constexpr const char kMsgAnalysisFailed[] = "%s: Dependency analysis failure!";
inline constexpr const char kMsgSpecialChars[] = "%s: contains special chars! lib_name=%s";
inline constexpr const char kMsgLocatorFailed[] = "cmd: %s, popen failed\n";
inline constexpr const char kMsgInvalidLddPath[] = "invalid ldd path";
inline constexpr const char kMsgSetExectlFailed[] = "%s: set exectl failed!, path=%s, label=%s\n";

// One framework log line of this family (level 2, no function name).
void log_line(const char *fmt, ...) noexcept __attribute__((format(printf, 1, 2)));

// ---- Data lists and the decision ----------------------------------------------------------

// Where a path was found in the data lists.
struct ListHit {
    int list = -1;  // index into kDataLists, -1 when none
    int line = 0;   // 1-based
    bool by_real_path = false;
    std::string text;  // the line as written
};

// The four data lists, read once: every non-empty line and the real path of each line
// that resolves, first occurrence kept. Matching is the same as reading the lists line by
// line for every file, at one lookup per list.
class ListSet {
  public:
    // Reads one list file; a missing or unreadable file gives an empty list.
    static ListSet load_one(const char *file);
    // Reads all four (lazily through Decider, normally).
    static std::vector<ListSet> load_all();

    // The first line that names @abs_path literally or through its real path.
    std::optional<ListHit> find(const std::string &abs_path) const;

  private:
    struct Entry {
        int line;
        bool by_real_path;
        size_t text;  // index into lines_
    };
    std::vector<std::string> lines_;
    std::unordered_map<std::string, Entry> index_;
};

// The decision with its reason, as lumek_whlist_label_explain reports it.
struct Decision {
    std::optional<std::string> label;  // none: the file takes no text for this kind
    int rule = 0;                      // LUMEK_LABEL_RULE_*
    int file_type = -1;                // parse_file_type's result when probed
    std::optional<ListHit> hit;
};

// Decides labels for the files of one exported call. The data lists are read on the first
// lookup and kept only as long as the Decider, so an edited list takes effect next call;
// so are the absolute forms of the directories the call's files lie in.
class Decider {
  public:
    Decision decide(int kind, int op, const char *path);
    // The decision's text in a zeroed 32-byte malloc'd buffer, or NULL when it gives none.
    // Throws std::bad_alloc when the buffer cannot be allocated.
    MallocPtr choose_label(int kind, int op, const char *path);
    // The exectl label the data lists alone give an existing @path, whatever its type: the
    // first list naming it, "verified" when none does, "unknown" without an absolute path.
    // @type is what parse_file_type gave for @path, when the caller has asked already.
    const char *list_label(const char *path, int type = -1);

  private:
    std::optional<ListHit> lookup(const std::string &abs_path);
    // get_absolute_path(@path), asked once per directory for a file of @type 0 to 4.
    std::optional<std::string> absolute_path(const char *path, int type);
    std::optional<std::vector<ListSet>> lists_;
    std::unordered_map<std::string, std::optional<std::string>> dirs_;
};

// choose_label for a single call (its own Decider).
MallocPtr choose_label(int kind, int op, const char *path);

// 1 when @list_file has a line naming @absolute_path (literally or through its real path).
int path_in_list(const char *list_file, const char *absolute_path);

// Current exectl label state: 0 labelled, 1 no label or missing, 2 unreadable, 3 "unknown".
inline constexpr int kStateLabelled = 0;
inline constexpr int kStateNone = 1;
inline constexpr int kStateUnreadable = 2;
inline constexpr int kStateUnknown = 3;
// Why a probe gave state 2: the framework call's result and errno.
struct ProbeFailure {
    int rc = 0;
    int err = 0;
};
int probe_exectl_state(const char *path, std::string *label_out = nullptr, ProbeFailure *failure = nullptr);

// 1 when the text from the path's last "." is one of kSkippedExtensions.
int has_skipped_extension(const char *path);

// ---- Mark lists ---------------------------------------------------------------------------

using MarkList = std::vector<MarkRecord>;  // grows geometrically; handed over as data()

// True when @path fits a record's path field with its terminator.
inline bool fits_record(const char *path, size_t *len = nullptr) {
    size_t n = strnlen(path, kPathField);
    if (len) *len = n;
    return n < kPathField;
}
// A record of @path (which must fit) and @label.
MarkRecord make_record(const char *path, const char *label);
// "/data/home/..." and "/data/root/..." become the path without "/data" when that is the
// same file; anything else stays.
const char *rewrite_user_data_path(const char *path);

// Result of a batch setter as the labelling calls report it: a negative result writes the
// error record's "OBJECT: REASON" into the buffer and gives its code (or the setter's own
// result, or -1006, when the record holds no failure code).
int32_t report_batch_result(int result);

// Hands a list to the batch setter that @kind and @sm choose.
int batch_set(int kind, int sm, MarkList &marks);

// The plan the builders fill instead of records: every path considered, sent or skipped. It
// is built in place in the block handed to the caller, the array first and the paths after
// it, so a plan of a large tree costs its paths' bytes and 48 more a path, and is never copied.
class PlanSink {
  public:
    PlanSink() = default;
    PlanSink(const PlanSink &) = delete;
    PlanSink &operator=(const PlanSink &) = delete;
    ~PlanSink() { free(block_); }
    // Room for @paths items whose texts take at most @bytes (terminators included); the
    // builders know both from their listing before they start. Throws std::bad_alloc.
    void reserve(size_t paths, size_t bytes);
    // Throws std::length_error beyond the room reserved.
    void add(const char *path, const char *label, int file_type, int skip);
    // True when some path would be sent.
    bool sends() const { return sent_ > 0; }
    // Hands the block to the caller (NULL when empty).
    void hand_out(LumekPlanItem **items, int32_t *count);

  private:
    LumekPlanItem *block_ = nullptr;
    char *texts_ = nullptr;
    size_t items_room_ = 0, text_room_ = 0, items_ = 0, text_used_ = 0, sent_ = 0;
};
// Adds to @plan when there is one.
inline void plan_add(PlanSink *plan, const char *path, const char *label, int file_type, int skip) {
    if (plan) plan->add(path, label, file_type, skip);
}

// The cleaned package name: after the last "/", cut at the first "_".
std::string clean_package_name(const char *package);

// The builders; std::nullopt when the listing could not be made. With a @plan they fill it
// and leave the records out.
std::optional<MarkList> build_package_marks(int op, const char *package, PlanSink *plan);
std::optional<MarkList> build_dir_marks(int op, int kind, const char *type_name, const char *dir,
                                        PlanSink *plan);

// ---- Dependencies -------------------------------------------------------------------------

// One call's labelling state: the data lists (through its Decider, read once however many
// files the call labels), what whereis said for each library name and which candidates
// resolved to which real path. Label probes are never kept.
class DepScanner {
  public:
    Decider &decider() { return decider_; }

    // The NEEDED names of @program as "objdump -p | grep NEEDED | awk '{print $2}'" prints
    // them, up to the first empty one (objdump runs once per program per call). nullopt when
    // objdump could not be run.
    std::optional<std::vector<std::string>> needed_names(const char *program);
    // The first location whereis gives for each of @names (looked up together, once per
    // name per call): the candidate text, or nullopt when whereis listed none. @ran is
    // false for a name whose whereis could not be run.
    struct Location {
        bool ran = false;
        std::optional<std::string> candidate;
    };
    std::vector<Location> locate(const std::vector<std::string> &names);
    std::optional<std::string> real_path(const std::string &path);

    int processes() const { return processes_; }

  private:
    std::optional<std::vector<std::string>> ask_whereis(bool binaries_only,
                                                        const std::vector<std::string> &names);
    std::unordered_map<std::string, std::optional<std::vector<std::string>>> needed_;
    std::unordered_map<std::string, Location> where_;
    std::unordered_map<std::string, std::optional<std::string>> real_;
    int processes_ = 0;
    Decider decider_;
};

// A library name the shell would have treated specially is never looked up.
bool library_name_unsafe(const std::string &name);
// The ten characters lumek_whlist_ldd_add refuses in a program path.
bool has_unsafe_char(const char *text);
// The candidate of one whereis output line: "/" up to the first blank; nullopt without "/".
std::optional<std::string> whereis_candidate(const std::string &line);
// NEEDED names from objdump -p output, as grep NEEDED | awk '{print $2}' gives them, up to
// the first empty one.
std::vector<std::string> needed_from_objdump(const std::string &out);

// The records of lumek_whlist_get_ldd_list (and the log lines it writes). @program_state is
// the program's label state when the caller has probed it already, else negative.
std::optional<MarkList> ldd_list(DepScanner &scan, const char *path, const char *label,
                                 int program_state = -1);
// lumek_exectl_ldd_set within a call that already has a scanner.
int exectl_ldd_set(DepScanner &scan, const char *path, const char *label, int program_state = -1);

// ---- Single files -------------------------------------------------------------------------

// The shared procedure of the seven single-file functions.
int32_t label_one_file(DepScanner &scan, int kind, int op, const char *path, int sm);
// lumek_whlist_exectl_add (@op add), _remove (delete) and _update (update).
int32_t exectl_by_type(DepScanner &scan, int op, const char *path);

// ---- Edge ---------------------------------------------------------------------------------

using ::lumek::guarded;

}  // namespace lumek::label
