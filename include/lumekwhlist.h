/*
 * lumekwhlist.h - client library of the lumek kernel security framework.
 *
 * Plain C interface. Every function runs synchronously on the caller's thread and
 * keeps no connection, lock or cache between calls. Results handed to the caller
 * are malloc'd (or GLib-allocated where a GVariant is returned) and belong to the
 * caller; each prototype says how to release them.
 */
#ifndef LUMEKWHLIST_H
#define LUMEKWHLIST_H

#include <stddef.h>
#include <stdint.h>

#include <gio/gio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LUMEKWHLIST_PUBLIC __attribute__((visibility("default")))

/* ------------------------------------------------------------------------------------------
 * Result codes shared by the core, labelling, rtdb and kid families.
 * ------------------------------------------------------------------------------------------ */
#define LUMEK_WHLIST_OK                 0
#define LUMEK_WHLIST_ERR_AUTH_FAILED    (-1001) /* "VORDA.LUMEK.AUTH.FAILED" */
#define LUMEK_WHLIST_ERR_CANCEL_AUTH    (-1002) /* "VORDA.LUMEK.CANCEL.AUTH" */
#define LUMEK_WHLIST_ERR_DISABLED       (-1003) /* "VORDA.LUMEK.DISABLED" */
#define LUMEK_WHLIST_ERR_DATABASE       (-1004) /* "VORDA.LUMEK.DATABASE.ERR" */
#define LUMEK_WHLIST_ERR_LABEL_GET      (-1005) /* "VORDA.LUMEK.LABEL.GET.ERR" */
#define LUMEK_WHLIST_ERR_LABEL_SET      (-1006) /* "VORDA.LUMEK.LABEL.SET.ERR" */
#define LUMEK_WHLIST_ERR_INVALID_ARG    (-1007) /* "VORDA.LUMEK.INVALID.ARG" */
#define LUMEK_WHLIST_ERR_EXTRACT_LIST   (-1008) /* "VORDA.LUMEK.EXTRACT.LIST.ERR" */
#define LUMEK_WHLIST_ERR_FILE_ATTR      (-1009) /* "VORDA.LUMEK.FILE.ATTR.ERR" */
#define LUMEK_WHLIST_ERR_UNKNOWN_REMOTE (-1011) /* any other remote D-Bus error name */

/* ------------------------------------------------------------------------------------------
 * Last-error buffer and the whitelist daemon client.
 * ------------------------------------------------------------------------------------------ */

/**
 * lumek_whlist_last_err - text left by the last failing call of the core and labelling
 * families on this thread.
 *
 * Returns: a pointer to a NUL-terminated buffer of 4096 bytes, never NULL; empty before
 * any failure. Owned by the library; valid until the next failing call on the thread.
 */
LUMEKWHLIST_PUBLIC const char *lumek_whlist_last_err(void);

/**
 * lumek_whlist_handling_dbus_error - turn a failed D-Bus call's error into a result code.
 * @error: the GError of a failed proxy creation or method call, or NULL. Still owned by
 *         the caller afterwards.
 *
 * A remote error's stripped message (when it has one) is logged and written into the
 * last-error buffer. A local failure (no bus, for example) touches neither.
 *
 * Returns: 0 for a local failure, a NULL error or "VORDA.LUMEK.OK"; the code of the
 * daemon's error name; -1011 for any other remote error name.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_handling_dbus_error(GError *error);

/**
 * lumek_whlist_process_dbus_method - call one method of the whitelist daemon
 * ("com.vorda.lumek", "/whlist", "com.vorda.lumek.whlist") on the system bus and wait
 * for its reply without a time limit.
 * @method_name: the method's name.
 * @parameters: a tuple GVariant, or NULL for a method without arguments. A floating
 *              reference is consumed, also on failure.
 * @result_out: written only when the call fails: the code of
 *              lumek_whlist_handling_dbus_error(), 0 when the bus could not be reached,
 *              -1007 for a NULL or malformed method name. May be NULL.
 *
 * Returns: the reply tuple (release with g_variant_unref()), or NULL on failure.
 */
LUMEKWHLIST_PUBLIC GVariant *lumek_whlist_process_dbus_method(const char *method_name, GVariant *parameters,
                                                              int32_t *result_out);

/* ------------------------------------------------------------------------------------------
 * Process snapshot.
 * ------------------------------------------------------------------------------------------ */

#define LUMEK_PROCESS_INFO_MAX 1024

/* State codes of ProcessInfo.state. */
#define LUMEK_PROC_STATE_RUNNING      0 /* R */
#define LUMEK_PROC_STATE_STOPPED      1 /* T */
#define LUMEK_PROC_STATE_SLEEPING     2 /* S */
#define LUMEK_PROC_STATE_ZOMBIE       3 /* Z */
#define LUMEK_PROC_STATE_TRACING_STOP 4 /* t */
#define LUMEK_PROC_STATE_DISK_SLEEP   5 /* D */
#define LUMEK_PROC_STATE_DEAD         6 /* X */

/* One process of a snapshot; 6472 bytes, fields at their natural alignment. */
typedef struct ProcessInfo {
    int64_t pid;
    char name[128];      /* command name from the stat file */
    char exe_path[1024]; /* target of the exe link */
    char exe_dir[1024];  /* exe_path cut after its last "/" (ends with "/") */
    char cmdline[4096];  /* NUL bytes replaced by spaces */
    int64_t ppid;
    int32_t uid;          /* real user id */
    char start_time[128]; /* ctime() text, trailing newline included */
    int32_t tty_nr;
    int64_t cpu_time;     /* whole seconds of user+system time, or -1 */
    double cpu_usage;     /* whole percent of CPU averaged over the process's life */
    double mem_usage;     /* resident memory in percent of MemTotal */
    int32_t socket_count; /* IPv4 TCP/UDP socket descriptors, or -1 */
    int32_t thread_count;
    int16_t state; /* LUMEK_PROC_STATE_* */
    int32_t fd_count;
    char **fd_targets; /* malloc'd array of malloc'd link targets */
} ProcessInfo;

/**
 * lumek_get_process_info - snapshot of the running processes.
 * @infos: room for LUMEK_PROCESS_INFO_MAX records.
 * @count: set to the number of records filled.
 *
 * For each of the first *count records the caller frees every fd_targets[i]
 * (fd_count of them; a record with fd_count 0 holds one NULL element), then
 * fd_targets itself, with free().
 *
 * Returns: 0, or -1 when /proc cannot be opened or an argument is NULL (*count is 0).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_get_process_info(ProcessInfo *infos, uint32_t *count);

/* ------------------------------------------------------------------------------------------
 * NIC speed limiting through "/sbin/tc". Messages go to standard error.
 * ------------------------------------------------------------------------------------------ */

#define LUMEK_NIC_NETMODE_SEND 1 /* limit what the interface sends */
#define LUMEK_NIC_NETMODE_RECV 2 /* limit what the interface receives */
#define LUMEK_NIC_NETMODE_BOTH 3
#define LUMEK_NIC_SPEED_MAX    3932160 /* kilobytes per second */

/**
 * lumek_nic_speedctl - replace the rate limit of @netmode on interface @nic.
 * @speed: kilobytes per second, 1 to LUMEK_NIC_SPEED_MAX.
 *
 * Returns: 0, or -1 when refused or when tc failed (nothing of the new limit is left).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedctl(const char *nic, int32_t netmode, int64_t speed);

/**
 * lumek_nic_speedclr - remove the rate limit of @netmode from interface @nic.
 *
 * Returns: 0 (also when there was none), or -1 when refused or failed.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedclr(const char *nic, int32_t netmode);

/* ------------------------------------------------------------------------------------------
 * Kernel-enforced lists: netctl, ppro and pblk. Failures are small negative results and a
 * line in the framework log (the last-error buffer is not used).
 * ------------------------------------------------------------------------------------------ */

/**
 * _uid - the user whose netctl program and package lists the vorda_netctl_ list
 * functions act on, read at every call. 0 at load time; the library never writes it.
 * Not synchronised: callers using several threads keep each setting together with the
 * calls that depend on it.
 */
extern LUMEKWHLIST_PUBLIC uint32_t _uid;

/**
 * vorda_netctl_status_set, vorda_ppro_status_set, vorda_pblk_status_set - switch a list
 * on or off, at once and permanently.
 * @status: netctl 0, 1 or 2; ppro and pblk 0 or 1.
 *
 * Returns: 0; 1 when the switch took effect but was not made permanent; -1 for a status
 * out of range; -2 when the framework is disabled; -3 when the framework refused it.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_status_set(int status);
LUMEKWHLIST_PUBLIC int vorda_ppro_status_set(int status);
LUMEKWHLIST_PUBLIC int vorda_pblk_status_set(int status);

/**
 * vorda_netctl_status_get, vorda_ppro_status_get, vorda_pblk_status_get - a list's switch.
 *
 * Returns: the status (netctl 0, 1 or 2; ppro and pblk the framework's value, 0 or more);
 * -1 when it cannot be read; netctl -2 when the framework reports its warning state.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_status_get(void);
LUMEKWHLIST_PUBLIC int vorda_ppro_status_get(void);
LUMEKWHLIST_PUBLIC int vorda_pblk_status_get(void);

/**
 * vorda_netctl_list_add - put a program on _uid's netctl program list with @mode (1 or
 * 2), or change its mode, and tell the kernel.
 * @path: an executable (not a shared library or libtool archive by name).
 *
 * Returns: 0; -1 bad mode or NULL path; -2 framework disabled; -3 not a program file;
 * -4 the store refused; -5 no path hash; -6 the kernel refused (the entry stays stored).
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_list_add(int mode, const char *path);

/**
 * vorda_netctl_list_del - take @path off _uid's netctl program list of @mode (1 or 2).
 * An entry stored with the other mode stays.
 *
 * Returns: 0 (also when not listed in that mode); -1 bad arguments; -2 framework
 * disabled; -3 the store refused; -4 no path hash; -5 the kernel refused.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_list_del(int mode, const char *path);

/**
 * vorda_netctl_list_get, vorda_netctl_pkg_list_get - paths (package names) on _uid's
 * netctl list of @mode (1 or 2), in the framework's order.
 * @count: set to the number of elements when a list or no match is handed back; left
 *         alone for a bad mode, a NULL @count or an empty store.
 *
 * Returns: a malloc'd array of @count malloc'd texts, with no NULL terminator (free each,
 * then the array), or NULL.
 */
LUMEKWHLIST_PUBLIC char **vorda_netctl_list_get(int mode, int *count);
LUMEKWHLIST_PUBLIC char **vorda_netctl_pkg_list_get(int mode, int *count);

/**
 * vorda_netctl_pkg_list_add, vorda_netctl_pkg_list_del - put a package on (change its
 * mode), or take it off, _uid's netctl package list of @mode (1 or 2). Store only.
 *
 * Returns: 0 (del also when not listed in that mode); -1 bad arguments; -2 framework
 * disabled; add -4, del -3 when the store refused.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_pkg_list_add(int mode, const char *pkg);
LUMEKWHLIST_PUBLIC int vorda_netctl_pkg_list_del(int mode, const char *pkg);

/**
 * vorda_ppro_list_add - protect the processes of @path with @type (1 or 2), or change its
 * type; a process already running from @path is told at once.
 *
 * Returns: 0; -1 bad arguments; -2 framework disabled; -4 the store refused; -5 no path
 * hash; -6 the kernel refused.
 */
LUMEKWHLIST_PUBLIC int vorda_ppro_list_add(const char *path, int type);

/**
 * vorda_ppro_list_del - release @path from process protection.
 *
 * Returns: 0 (also when not listed); -1 NULL path; -2 framework disabled; -3 the store
 * refused; -4 no path hash; -5 the kernel refused; -7 the kernel refused the running
 * process.
 */
LUMEKWHLIST_PUBLIC int vorda_ppro_list_del(const char *path);

/**
 * vorda_ppro_list_get, vorda_pblk_list_get - every listed path, in the framework's order.
 * @count: set to the number of elements; left alone for an empty list or when NULL.
 *
 * Returns: a malloc'd array of @count malloc'd paths, no NULL terminator (free each, then
 * the array), or NULL.
 */
LUMEKWHLIST_PUBLIC char **vorda_ppro_list_get(int *count);
LUMEKWHLIST_PUBLIC char **vorda_pblk_list_get(int *count);

/**
 * vorda_pblk_list_add, vorda_pblk_list_del - put @path on the pblk list (a listed path is
 * refused) or take it off, and tell the kernel.
 *
 * Returns: 0 (del also when not listed); -1 NULL path; -2 framework disabled; add: -4
 * already listed or the store refused, -5 no path hash, -6 the kernel refused; del: -3
 * the store refused, -4 no path hash, -5 the kernel refused.
 */
LUMEKWHLIST_PUBLIC int vorda_pblk_list_add(const char *path);
LUMEKWHLIST_PUBLIC int vorda_pblk_list_del(const char *path);

/* ------------------------------------------------------------------------------------------
 * udeb list: the framework's udeb operations, let through only while the framework is
 * enabled. Arguments go to the framework unchanged and its results come back unchanged;
 * their meaning is the framework's. The _sm twins act on the framework's _sm list.
 * ------------------------------------------------------------------------------------------ */

/* Each returns the framework's result, or -1 while the framework is disabled. */
LUMEKWHLIST_PUBLIC int lumek_udeblist_create(void);
LUMEKWHLIST_PUBLIC int lumek_udeblist_add(void *first, void *second);
LUMEKWHLIST_PUBLIC int lumek_udeblist_del(void *first, void *second);
LUMEKWHLIST_PUBLIC int lumek_udeblist_clear(void);
LUMEKWHLIST_PUBLIC int lumek_udeblist_get_root_distinguish(void);
LUMEKWHLIST_PUBLIC int lumek_udeblist_set_root_distinguish(int value);
LUMEKWHLIST_PUBLIC int lumek_udeblist_create_sm(void);
LUMEKWHLIST_PUBLIC int lumek_udeblist_add_sm(void *first, void *second);
LUMEKWHLIST_PUBLIC int lumek_udeblist_del_sm(void *first, void *second);
LUMEKWHLIST_PUBLIC int lumek_udeblist_clear_sm(void);
LUMEKWHLIST_PUBLIC int lumek_udeblist_get_root_distinguish_sm(void);
LUMEKWHLIST_PUBLIC int lumek_udeblist_set_root_distinguish_sm(int value);

/**
 * lumek_udeblist_read_all_node_with_uid, lumek_udeblist_read_all_node_with_uid_sm - the
 * framework's entries for @first.
 * @count: set to 0 first, then to what the framework leaves in it. NULL is refused.
 *
 * Returns: the framework's result, released as the framework says (malloc'd: free); NULL
 * while the framework is disabled or for a NULL @count.
 */
LUMEKWHLIST_PUBLIC void *lumek_udeblist_read_all_node_with_uid(void *first, int *count);
LUMEKWHLIST_PUBLIC void *lumek_udeblist_read_all_node_with_uid_sm(void *first, int *count);

#ifdef __cplusplus
}
#endif

#endif /* LUMEKWHLIST_H */
