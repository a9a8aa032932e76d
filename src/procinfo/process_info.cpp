// lumek_get_process_info: one walk over /proc into the caller's records.
//
// Each process is read through one directory descriptor of /proc/<pid>, so a pid reused in
// the middle of the walk cannot mix two processes into one record. stat and status are read
// once per process, /proc/meminfo once per call, the descriptor directory once per process
// (its targets serve both the target list and the socket count), and the two socket tables
// at most once per call. The values are those of reading each file at its own step.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <string>
#include <unordered_set>

#include "common/fixed_paths.h"
#include "common/raii.h"
#include "procinfo/procinfo_internal.h"

static_assert(offsetof(ProcessInfo, pid) == 0);
static_assert(offsetof(ProcessInfo, name) == 8);
static_assert(offsetof(ProcessInfo, exe_path) == 136);
static_assert(offsetof(ProcessInfo, exe_dir) == 1160);
static_assert(offsetof(ProcessInfo, cmdline) == 2184);
static_assert(offsetof(ProcessInfo, ppid) == 6280);
static_assert(offsetof(ProcessInfo, uid) == 6288);
static_assert(offsetof(ProcessInfo, start_time) == 6292);
static_assert(offsetof(ProcessInfo, tty_nr) == 6420);
static_assert(offsetof(ProcessInfo, cpu_time) == 6424);
static_assert(offsetof(ProcessInfo, cpu_usage) == 6432);
static_assert(offsetof(ProcessInfo, mem_usage) == 6440);
static_assert(offsetof(ProcessInfo, socket_count) == 6448);
static_assert(offsetof(ProcessInfo, thread_count) == 6452);
static_assert(offsetof(ProcessInfo, state) == 6456);
static_assert(sizeof(((ProcessInfo *)nullptr)->state) == 2);
static_assert(offsetof(ProcessInfo, fd_count) == 6460);
static_assert(offsetof(ProcessInfo, fd_targets) == 6464);
static_assert(sizeof(ProcessInfo) == 6472);

namespace lumek::procinfo {

namespace {

constexpr const char kStatFile[] = "stat";
constexpr const char kStatusFile[] = "status";
constexpr const char kCmdlineFile[] = "cmdline";
constexpr const char kExeLink[] = "exe";
constexpr const char kFdDir[] = "fd";

constexpr size_t kFirstTargetSlots = 16;

// How a /proc file comes out of read().
enum class ProcFile {
    kOneRecord,  // built whole on the first read (stat, status, meminfo): a read that leaves
                 // room in the buffer has returned everything, so the read that would only
                 // say "end" is saved
    kRecords,    // a table handed out a page at a time: read until the end
};

// Reads @fd to its end into @out. Returns 0, or -1 with errno set when a read failed (what
// was read before stays in @out).
int read_fd(int fd, std::string *out, ProcFile kind) {
    out->clear();
    char buf[16384];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return 0;
        out->append(buf, static_cast<size_t>(n));
        if (kind == ProcFile::kOneRecord && static_cast<size_t>(n) < sizeof buf) return 0;
    }
}

// Opens @name under @dirfd and reads it whole. Returns 0; or the errno of a failed open
// (> 0); or -1 when it opened but a read failed.
int read_file_at(int dirfd, const char *name, std::string *out, ProcFile kind) {
    out->clear();
    Fd fd(openat(dirfd, name, O_RDONLY | O_CLOEXEC));
    if (!fd) return errno > 0 ? errno : EIO;
    return read_fd(fd.get(), out, kind);
}

bool all_digits(const char *s) {
    if (!*s) return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

int64_t boottime_seconds() {
    // Boot time, not the monotonic clock: /proc start ticks go on counting across a suspend.
    struct timespec ts {};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec);
}

void free_targets(ProcessInfo *rec) {
    if (!rec->fd_targets) return;
    for (int32_t i = 0; i < rec->fd_count; ++i) free(rec->fd_targets[i]);
    free(rec->fd_targets);
    rec->fd_targets = nullptr;
    rec->fd_count = 0;
}

// Copies @src into the fixed field @dst, cut to its size and NUL-terminated.
template <size_t N>
void copy_field(char (&dst)[N], std::string_view src) {
    size_t n = src.size() < N - 1 ? src.size() : N - 1;
    memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// Per-call state: the inputs read once for the whole walk, and buffers reused per process.
class Snapshot {
  public:
    Snapshot(long mem_total_kb, bool meminfo_opened)
        : mem_total_kb_(mem_total_kb), meminfo_opened_(meminfo_opened) {}

    // Fills @rec from the /proc entry @name under @proc_fd. Returns false when the process is
    // left out; @rec then owns nothing.
    bool read_process(int proc_fd, const char *name, ProcessInfo *rec);

  private:
    bool fill(int proc_fd, const char *name, ProcessInfo *rec);
    int32_t count_sockets(const ProcessInfo *rec);
    bool in_table(int which, bool has_inode, uint64_t inode, bool *opened);

    long mem_total_kb_;
    bool meminfo_opened_;
    std::string stat_text_, status_text_;
    // Socket tables, read on the first socket descriptor of the call: [0] tcp, [1] udp.
    bool table_loaded_[2] = {false, false};
    bool table_opened_[2] = {false, false};
    std::unordered_set<uint64_t> table_inodes_[2];
};

// The command line with every NUL as a blank, at most 4095 bytes. The kernel fills a read
// of the command line as far as the text goes, so a short read is its end.
void read_cmdline(int fd, ProcessInfo *rec) {
    size_t len = 0;
    while (len < kCmdlineMax) {
        size_t want = kCmdlineMax - len;
        ssize_t n = read(fd, rec->cmdline + len, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // an error ends the text like the end of the file
        len += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < want) break;
    }
    for (size_t i = 0; i < len; ++i)
        if (rec->cmdline[i] == '\0') rec->cmdline[i] = ' ';
    rec->cmdline[len] = '\0';
}

// Every readable descriptor link, in directory order, into a heap array that grows by
// doubling. A directory that cannot be opened gives no targets. Throws std::bad_alloc with
// nothing held when memory runs out.
void read_targets(Fd fd_dir, ProcessInfo *rec) {
    char **targets = nullptr;
    size_t count = 0, slots = 0;
    auto release = [&] {
        for (size_t i = 0; i < count; ++i) free(targets[i]);
        free(targets);
    };
    if (fd_dir) {
        char buf[kFdTargetMax + 1];
        // Entries straight from getdents64: a directory stream would add an fstat and two
        // fcntl calls per process, a tenth of the walk's system calls.
        alignas(struct dirent64) char entries[8192];
        ssize_t got;
        while ((got = getdents64(fd_dir.get(), entries, sizeof entries)) > 0) {
            for (ssize_t off = 0; off < got;) {
                const auto *e = reinterpret_cast<const struct dirent64 *>(entries + off);
                off += e->d_reclen;
                if (!all_digits(e->d_name)) continue;
                ssize_t n = readlinkat(fd_dir.get(), e->d_name, buf, kFdTargetMax);
                if (n < 0) continue;  // closed meanwhile
                if (count == slots) {
                    size_t more = slots ? slots * 2 : kFirstTargetSlots;
                    void *grown = realloc(targets, more * sizeof *targets);
                    if (!grown) {
                        release();
                        throw std::bad_alloc();
                    }
                    targets = static_cast<char **>(grown);
                    slots = more;
                }
                char *copy = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
                if (!copy) {
                    release();
                    throw std::bad_alloc();
                }
                memcpy(copy, buf, static_cast<size_t>(n));
                copy[n] = '\0';
                targets[count++] = copy;
            }
        }
    }
    if (count == 0) {
        // No descriptor: the array still exists and holds one null element.
        free(targets);
        targets = static_cast<char **>(malloc(sizeof *targets));
        if (!targets) throw std::bad_alloc();
        targets[0] = nullptr;
    }
    rec->fd_targets = targets;
    rec->fd_count = static_cast<int32_t>(count);
}

bool Snapshot::read_process(int proc_fd, const char *name, ProcessInfo *rec) {
    rec->fd_targets = nullptr;
    rec->fd_count = 0;
    try {
        if (fill(proc_fd, name, rec)) return true;
    } catch (...) {
        free_targets(rec);
        throw;
    }
    free_targets(rec);
    return false;
}

bool Snapshot::fill(int proc_fd, const char *name, ProcessInfo *rec) {
    // Opening the entry as a directory is the "is it a directory" test as well.
    Fd pid_fd(openat(proc_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!pid_fd) return false;
    memset(rec, 0, sizeof *rec);

    Fd stat_fd(openat(pid_fd.get(), kStatFile, O_RDONLY | O_CLOEXEC));
    if (!stat_fd) return false;
    long pid = strtol(name, nullptr, 10);
    if (static_cast<int32_t>(pid) < 0) return false;
    rec->pid = pid;

    // stat is read once. A read that fails after the open means the process went away: that
    // is reported where the numeric fields are first needed, as a reopen there would be.
    bool stat_read = read_fd(stat_fd.get(), &stat_text_, ProcFile::kOneRecord) == 0;
    int stat_errno = errno;
    stat_fd.reset();
    StatFields st;
    if (stat_read) {
        if (!parse_stat(stat_text_, &st)) return false;  // no "(...)": no name, left out
        copy_field(rec->name, st.name);
    }

    ssize_t n = readlinkat(pid_fd.get(), kExeLink, rec->exe_path, kExeMax);
    if (n < 0) return false;  // kernel threads; other users' processes for the unprivileged
    rec->exe_path[n] = '\0';
    const char *slash = static_cast<const char *>(memrchr(rec->exe_path, '/', static_cast<size_t>(n)));
    if (!slash) return false;
    copy_field(rec->exe_dir, std::string_view(rec->exe_path, static_cast<size_t>(slash - rec->exe_path) + 1));

    if (read_file_at(pid_fd.get(), kStatusFile, &status_text_, ProcFile::kOneRecord) != 0) return false;
    StatusFields status;
    parse_status(status_text_, &status);
    int code = status.has_state ? state_code(status.state_letter) : -1;
    if (code < 0) return false;
    rec->state = static_cast<int16_t>(code);
    rec->ppid = status.ppid;

    {
        Fd cmdline_fd(openat(pid_fd.get(), kCmdlineFile, O_RDONLY | O_CLOEXEC));
        if (!cmdline_fd) return false;
        read_cmdline(cmdline_fd.get(), rec);
    }

    rec->thread_count = status.threads;
    rec->uid = status.uid;

    if (pid <= 0 || !meminfo_opened_) return false;
    rec->mem_usage = mem_usage_percent(status.vm_rss_kb, mem_total_kb_);

    if (!stat_read) {
        errno = stat_errno;
        perror(kFopenErrorPrefix);
        return false;
    }
    if (st.tty_scan == Scan::Eof) return false;
    rec->tty_nr = st.tty_nr;

    if (st.start_scan == Scan::Eof) return false;
    int64_t wall = static_cast<int64_t>(time(nullptr));
    start_time_text(st.start_ticks, wall, boottime_seconds(), rec->start_time);

    rec->cpu_time = st.time_scan == Scan::Eof ? -1 : cpu_seconds(st.utime, st.stime);

    // The walk's own descriptors show in its own listing; let them be the ones a plain walk
    // holds (/proc and the descriptor directory), not the process directory too.
    Fd fd_dir(openat(pid_fd.get(), kFdDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    pid_fd.reset();
    read_targets(std::move(fd_dir), rec);

    if (st.usage_scan == Scan::Eof) return false;
    rec->cpu_usage =
        cpu_usage_percent(st.usage_utime, st.usage_stime, st.usage_start_ticks, boottime_seconds());

    rec->socket_count = count_sockets(rec);
    return true;
}

bool Snapshot::in_table(int which, bool has_inode, uint64_t inode, bool *opened) {
    if (!table_loaded_[which]) {
        table_loaded_[which] = true;
        std::string text;
        int rc = read_file_at(AT_FDCWD, which == 0 ? paths::kProcNetTcp : paths::kProcNetUdp, &text,
                              ProcFile::kRecords);
        table_opened_[which] = rc <= 0;
        if (table_opened_[which]) parse_net_table(text, &table_inodes_[which]);
    }
    *opened = table_opened_[which];
    return *opened && has_inode && table_inodes_[which].count(inode) != 0;
}

// IPv4 TCP and UDP socket descriptors; -1 when a table that had to be consulted could not be
// opened (tcp for every socket, udp for those not found in tcp).
int32_t Snapshot::count_sockets(const ProcessInfo *rec) {
    int32_t found = 0;
    for (int32_t i = 0; i < rec->fd_count; ++i) {
        std::string_view target(rec->fd_targets[i]);
        if (!is_socket_target(target)) continue;
        uint64_t inode = 0;
        bool has_inode = socket_inode(target, &inode);
        bool opened = false;
        if (in_table(0, has_inode, inode, &opened)) {
            ++found;
            continue;
        }
        if (!opened) return -1;
        if (in_table(1, has_inode, inode, &opened)) ++found;
        if (!opened) return -1;
    }
    return found;
}

int32_t take_snapshot(ProcessInfo *infos, uint32_t *count) {
    DirPtr proc(opendir(paths::kProc));
    if (!proc) return -1;
    std::string meminfo;
    bool meminfo_opened = read_file_at(AT_FDCWD, paths::kProcMeminfo, &meminfo, ProcFile::kOneRecord) <= 0;
    Snapshot snap(parse_meminfo_total(meminfo), meminfo_opened);

    int proc_fd = dirfd(proc.get());
    while (*count < kMaxRecords) {
        struct dirent *e = readdir(proc.get());
        if (!e) break;
        if (!all_digits(e->d_name)) continue;
        if (snap.read_process(proc_fd, e->d_name, &infos[*count])) ++*count;
    }
    return 0;
}

}  // namespace

}  // namespace lumek::procinfo

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_get_process_info(ProcessInfo *infos, uint32_t *count) {
    if (count) *count = 0;
    if (!infos || !count) return -1;
    try {
        return lumek::procinfo::take_snapshot(infos, count);
    } catch (...) {
        // Out of memory mid-walk: hand back nothing rather than a snapshot with holes.
        for (uint32_t i = 0; i < *count; ++i) lumek::procinfo::free_targets(&infos[i]);
        *count = 0;
        return -1;
    }
}
