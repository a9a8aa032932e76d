// The program-file check of the netctl program list: libmagic's MIME type, then the
// name. Opening a cookie and loading the database cost more than asking about a file, so
// each thread keeps one loaded cookie. It is loaded again when the MAGIC variable names
// other files or a file of the database is replaced or changed (one stat per database
// file a call), and a child of fork starts without it.
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>

#include <mutex>
#include <string>
#include <vector>

#include <magic.h>

#include "lists/lists_internal.h"

namespace lumek::lists {

namespace {

constexpr const char kTag[] = "is_program_file";
constexpr const char kMsgMagicOpen[] = "magic_open failed";
constexpr const char kFmtMagicLoad[] = "magic_load failed: %s\n";
constexpr const char kFmtMagicFile[] = "magic_file failed: %s\n";

constexpr const char *const kProgramTypes[] = {"application/x-executable", "application/x-sharedlib",
                                               "application/x-pie-executable"};
// Shared objects and libtool archives by name, in this order.
constexpr const char kRefusedEnding[] = ".so";
constexpr const char kRefusedInside[] = ".so.";
constexpr const char kRefusedArchive[] = ".la";

// libmagic's search paths: the files magic_load(cookie, NULL) reads, and the same without
// a database in the home directory (the MAGIC variable or the built-in list, looked up
// without touching the file system).
constexpr int kMagicPathForLoad = 0;
constexpr int kMagicPathNamed = 1;
constexpr const char kCompiledSuffix[] = ".mgc";

bool ends_with(const char *text, const char *suffix) {
    size_t n = strlen(text), m = strlen(suffix);
    return n >= m && memcmp(text + n - m, suffix, m) == 0;
}

const char *error_of(magic_t cookie) {
    const char *e = magic_error(cookie);
    return e ? e : "";
}

// What a database file looked like when it was loaded; a missing file is a state too.
struct FileStamp {
    std::string path;
    bool exists = false;
    struct stat st {};

    static FileStamp of(std::string path) {
        FileStamp s;
        s.path = std::move(path);
        s.exists = stat(s.path.c_str(), &s.st) == 0;
        return s;
    }
    bool unchanged() const {
        struct stat now {};
        if (stat(path.c_str(), &now) != 0) return !exists;
        return exists && now.st_dev == st.st_dev && now.st_ino == st.st_ino && now.st_size == st.st_size &&
               now.st_mtim.tv_sec == st.st_mtim.tv_sec && now.st_mtim.tv_nsec == st.st_mtim.tv_nsec &&
               now.st_ctim.tv_sec == st.st_ctim.tv_sec && now.st_ctim.tv_nsec == st.st_ctim.tv_nsec;
    }
};

// The files a load of @search (libmagic's ":"-separated list) reads: for each entry its
// compiled form when there is one, else the entry itself.
std::vector<FileStamp> stamps_of(const char *search) {
    std::vector<FileStamp> out;
    std::string all = search ? search : "";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        std::string entry = all.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) continue;
        if (!ends_with(entry.c_str(), kCompiledSuffix)) {
            FileStamp compiled = FileStamp::of(entry + kCompiledSuffix);
            if (compiled.exists) {
                out.push_back(std::move(compiled));
                continue;
            }
        }
        out.push_back(FileStamp::of(entry));
    }
    return out;
}

// libmagic finds its default database through a process-wide buffer, so loads take turns.
// fork waits for a load in another thread to end: the child gets the lock free.
std::mutex g_load;

void lock_for_fork() {
    g_load.lock();
}
void unlock_after_fork() {
    g_load.unlock();
}
void forget_in_child();

void watch_fork() {
    static std::once_flag once;
    std::call_once(once, [] {
        pthread_atfork(lock_for_fork, unlock_after_fork, [] {
            unlock_after_fork();
            forget_in_child();
        });
    });
}

// The calling thread's cookie. Closed when the thread ends: the library stays mapped
// until then even if it is unloaded, since the C runtime holds it for the pending
// thread-local destructor.
class KeptCookie {
  public:
    ~KeptCookie() { forget(); }
    void forget() {
        if (cookie_) magic_close(cookie_);
        cookie_ = nullptr;
        stamps_.clear();
    }
    // The loaded cookie, loading it first when there is none or its database changed;
    // NULL after logging why not.
    magic_t get() {
        const char *named = magic_getpath(nullptr, kMagicPathNamed);
        if (cookie_ && named_ == (named ? named : "") && fresh()) return cookie_;
        forget();
        watch_fork();
        std::lock_guard<std::mutex> hold(g_load);
        named_ = named ? named : "";
        // Stamped before the load: a file replaced while it is read shows as changed later.
        std::vector<FileStamp> stamps = stamps_of(magic_getpath(nullptr, kMagicPathForLoad));
        magic_t c = magic_open(MAGIC_MIME_TYPE);
        if (!c) {
            lumek_log(kLogNetctl, 0, kTag, kMsgMagicOpen);
            return nullptr;
        }
        // The default database; libmagic itself honours its MAGIC variable here.
        if (magic_load(c, nullptr) == -1) {
            lumek_log(kLogNetctl, 0, kTag, kFmtMagicLoad, error_of(c));
            magic_close(c);
            return nullptr;
        }
        cookie_ = c;
        stamps_ = std::move(stamps);
        return cookie_;
    }

  private:
    bool fresh() const {
        for (const FileStamp &s : stamps_)
            if (!s.unchanged()) return false;
        return true;
    }
    magic_t cookie_ = nullptr;
    std::string named_;
    std::vector<FileStamp> stamps_;
};

thread_local KeptCookie t_cookie;

// The only thread of the child is the one that forked.
void forget_in_child() {
    t_cookie.forget();
}

bool has_program_type(const char *path) {
    magic_t cookie = t_cookie.get();
    if (!cookie) return false;
    const char *mime = magic_file(cookie, path);
    if (!mime) {
        lumek_log(kLogNetctl, 0, kTag, kFmtMagicFile, error_of(cookie));
        return false;
    }
    for (const char *t : kProgramTypes)
        if (strcmp(mime, t) == 0) return true;
    return false;
}

}  // namespace

bool is_program_file(const char *path) {
    if (!has_program_type(path)) return false;
    if (ends_with(path, kRefusedEnding)) return false;
    if (strstr(path, kRefusedInside)) return false;
    return !ends_with(path, kRefusedArchive);
}

}  // namespace lumek::lists
