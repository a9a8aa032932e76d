// Application identities (kid): numbering by kid type, the framework's lists held by RAII,
// the package-manager and user-directory helpers, and the process refresh. Private to
// src/kid.
#pragma once

#include <stdio.h>

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "common/raii.h"
#include "core/framework.h"
#include "lumekwhlist.h"

namespace lumek::kid {

// Results.
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kInvalid = LUMEK_WHLIST_ERR_INVALID_ARG;  // -1007
inline constexpr int32_t kNoKid = LUMEK_KID_ERR_NO_KID;            // -1021
inline constexpr int32_t kNoFileList = LUMEK_WHLIST_ERR_UNKNOWN_REMOTE;
inline constexpr int32_t kNoMemory = LUMEK_WHLIST_ERR_NO_MEMORY;

inline constexpr int kLogLevel = 2;
inline constexpr int kFeatureKid = 10;

// Fixed input: the package manager's status file.
inline constexpr const char kDpkgStatus[] = "/var/lib/dpkg/status";

// Kid numbering.
inline constexpr uint32_t kTypeCount = 6;
inline constexpr uint32_t kLowestKid[kTypeCount] = {1, 1001, 2001, 10001, 500001, 1};
inline constexpr uint32_t kHighestKid[kTypeCount] = {1000, 2000, 10000, 500000, 1000000, 1000000};
inline constexpr uint32_t kSharedTypes = 3;
inline constexpr uint32_t kSharedKid[kSharedTypes] = {999, 1999, 9999};
inline constexpr uint32_t kPublicKid = 999;
inline constexpr uint32_t kLevel1Kid = 1999;
inline constexpr uint32_t kLevel2Kid = 9999;
inline constexpr uint32_t kThirdLow = 10001, kThirdHigh = 500000;
inline constexpr uint32_t kPrivacyLow = 1, kPrivacyHigh = 998;
inline constexpr uint32_t kThirdAppType = 3;
inline constexpr uint32_t kResFile = 0, kResDir = 2;
inline constexpr int kCmdDropPolicyCache = 22;

// One unsigned comparison covers negative framework results too.
inline bool is_third_app(uint32_t kid) {
    return kid - kThirdLow <= kThirdHigh - kThirdLow;
}
inline bool is_listed_res_type(uint32_t res_type) {
    return (res_type & ~kResDir) == 0;  // 0 or 2
}

// The kid type of @kid: 0-4, or nullopt for 0 and above 1000000.
std::optional<uint32_t> kid_type_of(uint32_t kid);

// A kid text from the framework: decimal digits only, within 32 bits. nullopt for
// anything else (a negative number, no digits, trailing bytes, overflow).
std::optional<uint32_t> parse_kid_text(const char *text);

// The kid of a file (lumek_kid_get) or of a process (lumek_kid_get_by_pid): nullopt when
// the framework fails or its text is not a kid. 0 is returned as 0.
std::optional<uint32_t> kid_of_path(const char *path);
std::optional<uint32_t> kid_of_pid(int pid);

// The framework's lists, released with their own free calls.
template <typename T, void (*Free)(T *)>
struct FwListDeleter {
    void operator()(T *p) const noexcept { Free(p); }
};
using ResList = std::unique_ptr<KidResRecord, FwListDeleter<KidResRecord, lumek_kid_free_kid_res_list>>;
using InfoList = std::unique_ptr<KidInfoNode, FwListDeleter<KidInfoNode, lumek_kid_free_kid_info_list>>;
using PrivList =
    std::unique_ptr<KidPrivilegeNode, FwListDeleter<KidPrivilegeNode, lumek_kid_free_kid_priv_list>>;

// Bounded copy into a zeroed field: at most cap-1 bytes of @src (itself read up to @src_cap).
void copy_field(char *dst, size_t cap, const char *src, size_t src_cap = static_cast<size_t>(-1));

// Caller-visible lists: nodes allocated zeroed one at a time and pushed at the head.
// A builder owns what it pushed until it is handed over; on failure it frees it all.
template <typename Node>
class ListBuilder {
  public:
    ListBuilder() = default;
    ListBuilder(const ListBuilder &) = delete;
    ListBuilder &operator=(const ListBuilder &) = delete;
    ~ListBuilder() { free_nodes(head_); }

    // A zeroed node pushed at the head, or NULL when memory ran out (the list is kept).
    Node *push() {
        auto *n = static_cast<Node *>(calloc(1, sizeof(Node)));
        if (!n) return nullptr;
        n->next = head_;
        head_ = n;
        return n;
    }
    Node *head() const { return head_; }
    Node *release() { return std::exchange(head_, nullptr); }

    static void free_nodes(Node *n) {
        while (n) {
            Node *next = n->next;
            free(n);
            n = next;
        }
    }

  private:
    Node *head_ = nullptr;
};

// One log line at level 2 under @tag.
#define KID_LOG(tag, ...) lumek_log(::lumek::kid::kLogLevel, 0, (tag), __VA_ARGS__)

// ---- Package manager -------------------------------------------------------------------

// Regular files listed for @pkg by "dpkg-query -L" (directories, links and missing paths
// left out), in its order. nullopt when none, or when the name is no package name.
std::optional<std::vector<std::string>> get_file_list_of_pkg(const char *pkg);
// The packages of a dpkg status text whose status is "install ok installed" or "hold ok
// installed", in order. nullopt when a read fails before the end of the text.
std::optional<std::vector<std::string>> installed_packages_in(FILE *f);
// The status file read into @names (those installed, possibly none), missing (ENOENT, and
// @names empty), or there but not readable (@names empty).
enum class StatusFile { Read, Missing, Unreadable };
StatusFile read_installed_pkg_list(std::vector<std::string> &names);
bool is_in_str_list(const std::vector<std::string> &list, const char *text);

// ---- User resource directories ------------------------------------------------------------

// 1 for an entry directly inside a home directory under /home or directly inside /root
// that is a directory or missing (never a link, "." or "..", and only inside an existing
// home whose path has no link in it); 0 when not; -1 for NULL; -2 when the pattern cannot
// be compiled.
int is_user_res_dir(const char *path);
// The same for the name alone, whatever @path is now (a link too).
int is_user_res_name(const char *path);
// 0 and the uid of the user whose home is the parent of @path; -1 NULL, -2 no parent, -3
// no such user.
int get_user_res_uid(const char *path, uint32_t *uid);
// The privacy kid of a user directory (1-998), 999 when none is free or @path is no user
// directory, -1 for NULL, -2 when the framework's resources cannot be read.
int get_user_res_kid(const char *path);
int apply_kid_for_user_res(const char *path);
// A framework listing of paths, freed entries first.
class PathList {
  public:
    PathList(char **paths, int count) : paths_(paths), count_(paths ? count : 0) {}
    PathList(const PathList &) = delete;
    PathList &operator=(const PathList &) = delete;
    ~PathList() {
        for (int i = 0; i < count_; ++i) free(paths_[i]);
        free(paths_);
    }
    int count() const { return count_; }
    const char *operator[](int i) const { return paths_[i]; }

  private:
    char **paths_;
    int count_;
};

// A directory held open by its identity, so that paths the framework lists by name can be
// checked to be still inside it.
class HeldDir {
  public:
    // Opens @dir itself, never a link in its place.
    bool open(const char *dir);
    // @dir still names the directory opened.
    bool unchanged() const;
    // @path is below @dir and leads, with no link on the way, to the same file as its name
    // does below the directory opened.
    bool holds(const char *path) const;

  private:
    std::string dir_;
    Fd fd_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

// Writes @kid onto every path below @dir, never through a link. 0 when done, and when @dir
// is missing, no directory or (@link_ok) a link, which is left alone. -1007 and a log line
// when @dir is a link it should not be, or is swapped under the walk; what the walk wrote
// is then put back.
int set_kid_under_dir(const char *dir, uint32_t kid, bool link_ok);

// ---- Processes ---------------------------------------------------------------------------

// Makes the kernel drop the cached decisions of every running process of @kid. 0, or -1
// when /proc cannot be listed.
int clear_process_kid_auth_policy_by_kid(uint32_t kid);
// The same for every running process of a third app, whatever its kid.
int clear_all_process_kid_auth_policy();

// ---- MarkRecord batches --------------------------------------------------------------------

// One kid batch record per path, the label holding @kid_text; sent with lumek_kid_multi_set.
int32_t send_kid_batch(const std::vector<std::string> &paths, const char *kid_text);

// Pointers to the texts of @v, for framework calls that take char **.
std::vector<char *> c_strings(const std::vector<std::string> &v);

// Runs an exported function's body so that no exception leaves the C edge; running out of
// memory gives kNoMemory.
template <typename Fn>
int32_t guarded(Fn &&fn) noexcept {
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        return kNoMemory;
    } catch (...) {
        return kInvalid;
    }
}

}  // namespace lumek::kid

// The framework's records and the caller-visible records, as the family relies on them.
static_assert(sizeof(KidInfoRecord) == 264 && offsetof(KidInfoNode, next) == 264);
static_assert(offsetof(KidResRecord, path) == 8 && offsetof(KidResRecord, app_name) == 4104 &&
              offsetof(KidResRecord, next) == 4232);
static_assert(sizeof(KidPrivilegeRecord) == 20 && offsetof(KidPrivilegeNode, next) == 24);
static_assert(sizeof(KidNetctlRecord) == 4104 && offsetof(KidNetctlNode, next) == 4104);
static_assert(sizeof(MarkRecord) == 4128);
static_assert(sizeof(KidResEntry) == 4104 && sizeof(KidResItem) == 4112 &&
              offsetof(KidResItem, next) == 4104);
static_assert(sizeof(KidAppEntry) == 260 && sizeof(KidAppItem) == 272 && offsetof(KidAppItem, next) == 264);
static_assert(sizeof(KidPolicyEntry) == 8200 && sizeof(KidPolicyItem) == 8208 &&
              offsetof(KidPolicyItem, next) == 8200);
static_assert(sizeof(KidNetctlEntry) == 4100 && sizeof(KidNetctlItem) == 4112 &&
              offsetof(KidNetctlItem, next) == 4104);
