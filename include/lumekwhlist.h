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
 * lumek_whlist_last_err - the last error text of the calling thread
 *
 * The text is left by the last failing call of the core and labelling families on this
 * thread.
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
 * @method_name: the method's name.
 * @parameters: a tuple GVariant, or NULL for a method without arguments. A floating
 *              reference is consumed, also on failure.
 * @result_out: written only when the call fails: the code of
 *              lumek_whlist_handling_dbus_error(), 0 when the bus could not be reached,
 *              -1007 for a NULL or malformed method name. May be NULL.
 *
 * The method is called on "com.vorda.lumek", object "/whlist", interface
 * "com.vorda.lumek.whlist", on the system bus; the call waits for the reply without a time
 * limit.
 *
 * Returns: the reply tuple (release with g_variant_unref()), or NULL on failure.
 */
LUMEKWHLIST_PUBLIC GVariant *lumek_whlist_process_dbus_method(const char *method_name, GVariant *parameters,
                                                              int32_t *result_out);

/* ------------------------------------------------------------------------------------------
 * Whitelist objects and daemon queries.
 * ------------------------------------------------------------------------------------------ */

/* Exectl label numbers; the texts are "verified", "original", "vordsw", "trusted", "unknown",
 * "parent", "script". */
#define LUMEK_EXECTL_VERIFIED 0
#define LUMEK_EXECTL_ORIGINAL 1
#define LUMEK_EXECTL_VORDSW   2
#define LUMEK_EXECTL_TRUSTED  3
#define LUMEK_EXECTL_UNKNOWN  4
#define LUMEK_EXECTL_PARENT   5
#define LUMEK_EXECTL_SCRIPT   6

/* Object type numbers; the texts are "program", "library", "script", "kmodule", "other",
 * "link". */
#define LUMEK_OBJ_PROGRAM 0
#define LUMEK_OBJ_LIBRARY 1
#define LUMEK_OBJ_SCRIPT  2
#define LUMEK_OBJ_KMODULE 3
#define LUMEK_OBJ_OTHER   4
#define LUMEK_OBJ_LINK    5

/* Result of a list query whose entry could not be allocated (the list stays partly built). */
#define LUMEK_WHLIST_ERR_NO_MEMORY (-3)

/* One whitelisted file; 48 bytes, next at 40. Lists are built by prepending, so a list
 * holds the daemon's entries in reverse order. */
typedef struct WhlistObject {
    char *path;          /* malloc'd, may be NULL */
    char *hash;          /* malloc'd, may be NULL */
    int32_t obj_type;    /* LUMEK_OBJ_* */
    int32_t exectl_type; /* LUMEK_EXECTL_* */
    int32_t writable;    /* 0: protection text "readonly"; 1: any other */
    int32_t extra1;      /* carried unchanged from the daemon */
    int32_t extra2;      /* the entry's status */
    struct WhlistObject *next;
} WhlistObject;

/* One whitelisted kernel module; 24 bytes, next at 16. */
typedef struct KmodObject {
    char *name; /* malloc'd, may be NULL */
    int32_t value;
    struct KmodObject *next;
} KmodObject;

/**
 * lumek_whlist_parse_exectl_type - label number of a label text
 * @text: a label text, compared exactly (case-sensitive) with the LUMEK_EXECTL_* texts.
 *
 * Returns: 0-6; 4 ("unknown") for NULL and for every text not in the table.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_parse_exectl_type(const char *text);

/**
 * create_object_list_entry - prepend a new WhlistObject built from daemon texts to *@head
 * @head: the list; the new entry becomes its first.
 * @path, @hash: copied (NULL stays NULL).
 * @obj_type_text: "program", "library", "script" or "kmodule" give 0-3; any other text
 *                 ("link" too) and NULL give 4.
 * @exectl_text: the label text, as lumek_whlist_parse_exectl_type() reads it.
 * @protect_text: "readonly" gives writable 0, anything else (NULL too) 1.
 * @extra1, @extra2: stored unchanged.
 *
 * Returns: 0; -1 when @head is NULL (nothing allocated) or the entry cannot be allocated
 * (message in the last-error buffer, list unchanged). Free with lumek_whlist_objects_free().
 */
LUMEKWHLIST_PUBLIC int32_t create_object_list_entry(WhlistObject **head, const char *path, const char *hash,
                                                    const char *obj_type_text, const char *exectl_text,
                                                    const char *protect_text, int32_t extra1, int32_t extra2);

/**
 * lumek_whlist_objects_free - free a WhlistObject list
 * @head: the list; every entry and its texts are freed and *@head becomes NULL. A NULL
 *        @head or an empty list does nothing.
 */
LUMEKWHLIST_PUBLIC void lumek_whlist_objects_free(WhlistObject **head);

/**
 * lumek_kmod_whlist_objects_free - free a KmodObject list
 * @head: the list; every entry and its name are freed and *@head becomes NULL. A NULL
 *        @head or an empty list does nothing.
 */
LUMEKWHLIST_PUBLIC void lumek_kmod_whlist_objects_free(KmodObject **head);

/**
 * lumek_whlist_load, lumek_whlist_load_sm - whitelist entries the daemon selects
 * @selector: passed to the daemon; what it selects is the daemon's.
 * @filter: passed to the daemon (NULL is sent as ""); what it matches is the daemon's.
 * @head: receives the list (NULL first; free with lumek_whlist_objects_free()).
 *
 * lumek_whlist_load_sm asks the daemon's _sm method instead.
 *
 * Returns: 0 (the list may be empty; also when the system bus cannot be reached); -1007 for a
 * NULL @head (no message) or a text that is not UTF-8; -3 when an entry cannot be allocated
 * (entries so far stay in *@head); the daemon's mapped code; -1011 for a reply of another
 * type. Failures other than a NULL @head leave a message in the last-error buffer.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load(int32_t selector, const char *filter, WhlistObject **head);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_sm(int32_t selector, const char *filter, WhlistObject **head);

/**
 * lumek_whlist_load_all - every whitelist entry the daemon holds
 * @head: receives the list (NULL first; free with lumek_whlist_objects_free()).
 *
 * Returns: as lumek_whlist_load().
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_all(WhlistObject **head);

/**
 * lumek_whlist_load_by_obj_type - whitelist entries of one object type
 * @selector: passed to the daemon, as for lumek_whlist_load().
 * @type: the object type text (required: NULL gives -1007 with a message).
 * @filter: passed to the daemon (NULL is sent as "").
 * @head: receives the list (NULL first; free with lumek_whlist_objects_free()).
 *
 * Returns: as lumek_whlist_load().
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_by_obj_type(int32_t selector, const char *type,
                                                         const char *filter, WhlistObject **head);

/**
 * lumek_whlist_get_count_by_obj_type - how many entries lumek_whlist_load_by_obj_type() selects
 * @selector: passed to the daemon.
 * @type: the object type text (required).
 * @filter: passed to the daemon (NULL is sent as "").
 *
 * Returns: the daemon's count, or 0 on any failure (message in the last-error buffer
 * unless the bus could not be reached).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_get_count_by_obj_type(int32_t selector, const char *type,
                                                              const char *filter);

/**
 * lumek_whlist_load_by_path - the daemon's entry for one file
 * @path: the file; its absolute form is sent.
 * @entry: filled on success (path and hash malloc'd; next untouched); untouched otherwise.
 *
 * Returns: 0, -1007 (NULL argument, path not absolutisable or not UTF-8), the daemon's code,
 * -1011 for a reply of another type; 0 with @entry untouched when the bus cannot be reached.
 * Failures leave a message in the last-error buffer.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_by_path(const char *path, WhlistObject *entry);

/**
 * lumek_whlist_get_hash_by_path - the daemon's hash of a file
 * @path: the file; its absolute form is sent. A path under "/data/home" or "/data/root"
 *        that is the same file without its "/data" is sent without it.
 *
 * Returns: a malloc'd text (free with free()), or NULL on any failure.
 */
LUMEKWHLIST_PUBLIC char *lumek_whlist_get_hash_by_path(const char *path);

/**
 * lumek_whlist_import, lumek_whlist_export - have the daemon read or write the whitelist
 * @selector: passed to the daemon: which whitelist.
 * @text: passed to the daemon: where from or to (a file name for the reference daemon).
 *
 * Returns: the daemon's result; -1007 for a NULL or non-UTF-8 @text; the mapped code.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_import(int32_t selector, const char *text);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_export(int32_t selector, const char *text);

/**
 * lumek_whlist_protect_set_for_dpkg, lumek_whlist_script_set_for_dpkg - the daemon's
 * package-manager protection and script commands
 *
 * Each calls the daemon method of its own name, without arguments.
 *
 * Returns: 0 without any daemon call while the framework is disabled; else the daemon's
 * result or the mapped code.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_protect_set_for_dpkg(void);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_script_set_for_dpkg(void);

/**
 * lumek_kmod_whlist_load, lumek_kmod_whlist_load_sm - whitelisted kernel modules
 * @name: passed to the daemon (NULL is sent as ""); what it matches is the daemon's.
 * @head: receives the list (NULL first; free with lumek_kmod_whlist_objects_free()).
 *
 * lumek_kmod_whlist_load_sm asks the daemon's _sm method instead.
 *
 * Returns: as lumek_whlist_load().
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kmod_whlist_load(const char *name, KmodObject **head);
LUMEKWHLIST_PUBLIC int32_t lumek_kmod_whlist_load_sm(const char *name, KmodObject **head);

/**
 * lumek_bgset_set, lumek_bgset_unset - set or clear the daemon's bgset text
 * @text: the text lumek_bgset_set() sends.
 *
 * Returns: the daemon's result; -1007 for a NULL or non-UTF-8 @text; the mapped code.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_bgset_set(const char *text);
LUMEKWHLIST_PUBLIC int32_t lumek_bgset_unset(void);

/* Framework pass-throughs: arguments and results unchanged. */

/**
 * lumek_whlist_is_secadm, lumek_whlist_is_auditadm - the framework's administrator checks
 *
 * The framework's is_secadm and is_auditadm are called; nothing else is done.
 *
 * Returns: the framework's result, unchanged.
 */
LUMEKWHLIST_PUBLIC int lumek_whlist_is_secadm(void);
LUMEKWHLIST_PUBLIC int lumek_whlist_is_auditadm(void);

/**
 * lumek_whlist_getstatus - whether the framework is enabled
 *
 * Returns: the framework's status, unchanged: 0 while the framework is disabled, any other
 * value while it is enabled.
 */
LUMEKWHLIST_PUBLIC int lumek_whlist_getstatus(void);

/**
 * lumek_whlist_setstatus - set the framework's status
 * @status: passed to the framework unchanged.
 *
 * Returns: the framework's result, unchanged.
 */
LUMEKWHLIST_PUBLIC int lumek_whlist_setstatus(int status);

/**
 * lumek_whlist_get_func_status - one feature switch of the framework
 * @func: the feature number, passed unchanged (1 netctl, 5 ppro, 10 kid, 11 pblk).
 *
 * Returns: the framework's result, unchanged; negative when the switch cannot be read.
 */
LUMEKWHLIST_PUBLIC int lumek_whlist_get_func_status(int func);

/**
 * lumek_whlist_set_func_status - set one feature switch of the framework
 * @func: the feature number, passed unchanged.
 * @value: the new value, passed unchanged.
 *
 * Only the running framework changes: the setting is not made permanent (the
 * vorda_netctl_status_set() family does that for its lists).
 *
 * Returns: the framework's result, unchanged; 0 when it was set.
 */
LUMEKWHLIST_PUBLIC int lumek_whlist_set_func_status(int func, int value);

/**
 * lumek_whlist_update_rmmodpro, lumek_whlist_update_rmmodpro_sm - removal protection of a
 * kernel module
 * @flag: 0 turns the protection off, any other value on.
 * @name: the module's name.
 *
 * lumek_whlist_update_rmmodpro_sm uses the framework's _sm store.
 *
 * Returns: the framework's result, or -1007 (message written) for a NULL @name.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update_rmmodpro(int32_t flag, const char *name);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update_rmmodpro_sm(int32_t flag, const char *name);

/* ------------------------------------------------------------------------------------------
 * Runtime label database (rtdb): a copy of the whitelist's exectl labels in the framework's
 * memory database, shared by every process. Failures are small negative results and a line
 * in the framework log (the last-error buffer is not used). Lists hold the records in the
 * reverse of the order the memory database delivered them; free them with
 * lumek_whlist_objects_free(), also after a failure (objects built so far stay in *@out).
 * ------------------------------------------------------------------------------------------ */

/* The entry fields of a WhlistObject (everything but next), 40 bytes, passed by value. */
typedef struct WhlistObjectEntry {
    char *path;
    char *hash; /* for files the library hashes: 32 upper-case hex digits of the MD5 */
    int32_t obj_type;
    int32_t exectl_type;
    int32_t writable; /* not recorded: reads back as 0 */
    int32_t extra1;   /* not recorded: reads back as 0 */
    int32_t extra2;   /* the status */
} WhlistObjectEntry;

/**
 * lumek_memdb_whlist_create - create the rtdb from the daemon's whole whitelist
 *
 * Without a system bus the whitelist loads empty and an empty rtdb is created.
 *
 * Returns: 0 (records or indexes that failed are only logged); -1 the whitelist could not
 * be loaded (nothing created); -2 the database could not be created (the stand-in refuses
 * an existing one: delete it first).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_create(void);

/**
 * lumek_memdb_whlist_delete - delete the rtdb
 *
 * Returns: 0, or -1.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_delete(void);

/**
 * lumek_memdb_whlist_exectl_add - replace the label record of a file
 * @entry: the record: path and hash not NULL, obj_type 0-5, exectl_type 0-6.
 *
 * Every record of @entry.path is replaced by one built from @entry, stamped with the current
 * time.
 *
 * Returns: 0; -1 no rtdb; -2 the old record could not be deleted; -3 the entry is not valid
 * (the old record stays) or the new record could not be stored (the path has none then).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_add(WhlistObjectEntry entry);

/**
 * lumek_memdb_whlist_exectl_remove - delete every label record of a file
 * @path: the path the records carry.
 *
 * Returns: 0 (also when there was none); -1 NULL path or no rtdb; -2 delete failed.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_remove(const char *path);

/**
 * lumek_memdb_whlist_exectl_load - label records matching every given filter
 * @path: the exact path, NULL for any.
 * @type: the exact object type text, NULL for any.
 * @label: the exact label text, NULL for any.
 * @hash: the exact hash, NULL for any.
 * @status: the status, -1 for any.
 * @out: receives the new list (set to NULL first).
 *
 * Returns: 0; -1 @out NULL; -2 no rtdb; -3 retrieval failed.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_load(const char *path, const char *type,
                                                          const char *label, const char *hash, int32_t status,
                                                          WhlistObject **out);

/**
 * lumek_memdb_whlist_exectl_load_special - label records of the special labels
 * @out: receives the new list (set to NULL first).
 *
 * The records whose label is "vordsw", "trusted", "parent" or "script".
 *
 * Returns: as lumek_memdb_whlist_exectl_load().
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_load_special(WhlistObject **out);

/**
 * lumek_memdb_whlist_exectl_load_after_time - label records written after a time
 * @time: seconds since the Epoch.
 * @out: receives the new list (set to NULL first).
 *
 * Returns: as lumek_memdb_whlist_exectl_load().
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_load_after_time(int32_t time, WhlistObject **out);

/**
 * lumek_memdb_whlist_exectl_load_by_daemon - label records as the whitelist daemon has them
 * @path, @type, @label, @hash, @status: the filters of lumek_memdb_whlist_exectl_load().
 * @out: receives the new list (set to NULL first).
 *
 * The filters are answered by the whitelist daemon's "lumek_memdb_whlist_exectl_load"
 * method; the rtdb is not read. Objects keep the daemon's writable and extra1.
 *
 * Returns: 0 (also without a system bus: empty list); -1 @out NULL; the daemon call's code
 * (-1001 to -1011); -3 an object could not be built.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_load_by_daemon(const char *path, const char *type,
                                                                    const char *label, const char *hash,
                                                                    int32_t status, WhlistObject **out);

/**
 * lumek_memdb_whlist_exectl_get_lasted_sync_time - the stored sync time
 *
 * The time is the one last stored with lumek_memdb_whlist_exectl_update_lasted_sync_time().
 *
 * Returns: the time, 0 when none was stored; -2 no rtdb; -3 retrieval failed.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_get_lasted_sync_time(void);

/**
 * lumek_memdb_whlist_exectl_update_lasted_sync_time - replace the stored sync time
 * @time: the new time, stored as given.
 *
 * Returns: 0; -1 no rtdb; -2 the old one could not be deleted; -3 the new one not stored.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_update_lasted_sync_time(int32_t time);

/**
 * lumek_memdb_whlist_exectl_update_status - set the status of a file's label record
 * @path: the file.
 * @status: the new status.
 *
 * The record is stamped with the current time and duplicates are folded into one. Without
 * a record, one
 * is made from the file when it exists, can be classified and hashed, and carries a label
 * other than "unknown"; otherwise nothing changes.
 *
 * Returns: 0 (also when there was nothing to record); -1 NULL path or the old records could
 * not be deleted; -2 no rtdb, a stored record that cannot be rewritten, or the new record
 * could not be stored.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_update_status(const char *path, int32_t status);

/**
 * lumek_memdb_whlist_calc_md5_for_file - MD5 of a regular file's contents
 * @path: the file.
 *
 * Returns: 32 upper-case hex digits (malloc'd: free()), or NULL for NULL, a path that is not
 * a regular file, a file that cannot be opened, or a read error.
 */
LUMEKWHLIST_PUBLIC char *lumek_memdb_whlist_calc_md5_for_file(const char *path);

/* ------------------------------------------------------------------------------------------
 * File labelling: exectl labels and protection texts of single files, batches, whole
 * packages and directories, and of a program's shared-library dependencies. Labels come
 * from the framework's data lists under "/usr/share/lumek-utils/data/" ("vordsw_list",
 * "trust_list", "parent_list", "script_list", tried in this order), read afresh by every
 * call. Failures leave a message in the last-error buffer unless a prototype says otherwise.
 * ------------------------------------------------------------------------------------------ */
/* The whitelist a labelling call changes (@kind). */
#define LUMEK_KIND_EXECTL  0 /* exectl label of programs, libraries and scripts */
#define LUMEK_KIND_PROTECT 1 /* protection text "readonly" or "none" */
#define LUMEK_KIND_KMOD    2 /* exectl label of kernel modules */

/* The operation (@op); any other value acts like LUMEK_OP_DELETE. */
#define LUMEK_OP_ADD    0
#define LUMEK_OP_DELETE 1
#define LUMEK_OP_UPDATE 2

/* One (path, label) record of a batch handed to the framework; 4128 bytes, arrays are
 * packed with no header. Both texts are NUL-terminated; an all-zero record is empty. */
typedef struct MarkRecord {
    char path[4096];
    char label[32];
} MarkRecord;

/* The package manager's batch record: a MarkRecord and the file's object type; 4132 bytes. */
typedef struct TypedMarkRecord {
    char path[4096];
    char label[32];
    int32_t file_type; /* LUMEK_OBJ_* */
} TypedMarkRecord;

#ifdef __cplusplus
static_assert(sizeof(MarkRecord) == 4128, "MarkRecord is 4128 bytes");
static_assert(sizeof(TypedMarkRecord) == 4132, "TypedMarkRecord is 4132 bytes");
#else
_Static_assert(sizeof(MarkRecord) == 4128, "MarkRecord is 4128 bytes");
_Static_assert(sizeof(TypedMarkRecord) == 4132, "TypedMarkRecord is 4132 bytes");
#endif

/**
 * lumek_whlist_add_by_package, lumek_whlist_update_by_package, lumek_whlist_delete_by_package
 * - label the files of an installed package
 * @package: a package name, optionally with ":ARCH"; a directory part and everything from
 *           the first "_" are dropped first (an archive file name works).
 *
 * Every program, library, script and kernel module of the package (as "dpkg-query -L" lists
 * it) is labelled in one exectl batch: add and update choose labels from the data lists,
 * delete gives "unknown". Paths containing "/tmp/" are left out.
 *
 * Returns: the batch setter's result (0 or more) on success; -1007 for NULL; -1008 when no
 * file could be marked, or when the name is not a valid package name (nothing is run);
 * the setter's negative result unchanged.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_by_package(const char *package);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update_by_package(const char *package);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_by_package(const char *package);

/**
 * lumek_whlist_add_by_dir, lumek_whlist_add_by_dir_sm, lumek_whlist_update_by_dir,
 * lumek_whlist_delete_by_dir, lumek_whlist_delete_by_dir_sm,
 * lumek_whlist_delete_by_dir_internal - label the files of a directory
 * @kind: the whitelist: LUMEK_KIND_EXECTL, LUMEK_KIND_KMOD or LUMEK_KIND_PROTECT.
 * @type_name: NULL for every type, else only files of that object type text (an unknown
 *             text means "other").
 * @dir: the directory.
 * @sm: not 0 selects the sm protection store (lumek_whlist_delete_by_dir_internal only).
 *
 * Every non-link file of @dir (as the framework lists it) that @kind accepts is labelled in
 * one batch: exectl for LUMEK_KIND_EXECTL and LUMEK_KIND_KMOD, protection otherwise. The
 * _sm forms, and _internal with @sm not 0, use the sm protection store.
 *
 * Returns: as lumek_whlist_add_by_package(); -1008 also when @dir cannot be listed.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_by_dir(int32_t kind, const char *type_name, const char *dir);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_by_dir_sm(int32_t kind, const char *type_name, const char *dir);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update_by_dir(int32_t kind, const char *type_name, const char *dir);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_by_dir(int32_t kind, const char *type_name, const char *dir);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_by_dir_sm(int32_t kind, const char *type_name,
                                                         const char *dir);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_by_dir_internal(int32_t kind, const char *type_name,
                                                               const char *dir, int32_t sm);

/**
 * lumek_whlist_add, lumek_whlist_add_sm, lumek_whlist_add_internal, lumek_whlist_delete,
 * lumek_whlist_delete_sm, lumek_whlist_delete_internal, lumek_whlist_update - label one file
 * @kind: the whitelist: LUMEK_KIND_EXECTL, LUMEK_KIND_KMOD or LUMEK_KIND_PROTECT.
 * @path: the file.
 * @sm: not 0 selects the sm protection setter (no effect on exectl labels); the _sm forms
 *      always select it.
 *
 * The text comes from the label decision (see lumek_whlist_label_explain()). A program added
 * or updated in the exectl whitelist is labelled together with its unlabelled ("unknown")
 * dependencies, and only when its own label is "unknown".
 *
 * Returns: 0; -1007 for a NULL path; -1009 when @kind takes no text for the file; the
 * framework's error code (message "PATH: REASON"). A program whose current label cannot be
 * read gives the reading call's code when it is one of -1001 to -1011, else -1009, with
 * "PATH: strerror(errno)".
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add(int32_t kind, const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_sm(int32_t kind, const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_internal(int32_t kind, const char *path, int32_t sm);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete(int32_t kind, const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_sm(int32_t kind, const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_internal(int32_t kind, const char *path, int32_t sm);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update(int32_t kind, const char *path);

/**
 * lumek_whlist_exectl_add, lumek_whlist_exectl_remove, lumek_whlist_exectl_update - label
 * one file in the whitelist its type belongs to
 * @path: an existing program, library, script or kernel module.
 *
 * Programs, libraries and scripts go to lumek_whlist_add() (lumek_whlist_delete(),
 * lumek_whlist_update()) with LUMEK_KIND_EXECTL, kernel modules with LUMEK_KIND_KMOD.
 *
 * Returns: 0; 1 when authorisation failed or was cancelled; -1 any other failure; -2 NULL or
 * missing path (EINVAL text in the buffer); -3 a file of another type, or an invalid argument.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_add(const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_remove(const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_update(const char *path);

/**
 * lumek_whlist_multi_add, lumek_whlist_multi_delete, lumek_whlist_multi_update - label
 * several files in one batch
 * @kind: the whitelist: exectl for LUMEK_KIND_EXECTL and LUMEK_KIND_KMOD, else protection.
 * @paths: the files.
 * @count: how many @paths holds.
 *
 * A file that takes no text (a NULL element or a path of 4096 bytes or more
 * included) leaves an empty record and one log line. Programs added or updated in the
 * exectl whitelist have their unlabelled dependencies labelled first.
 *
 * Returns: the batch setter's result (0 or more); -1007 for a NULL array or a count below 1;
 * the error code of a failing setter (message "OBJECT: REASON").
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_multi_add(int32_t kind, const char **paths, int32_t count);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_multi_delete(int32_t kind, const char **paths, int32_t count);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_multi_update(int32_t kind, const char **paths, int32_t count);

/**
 * lumek_whlist_get_ldd_list - the unlabelled files a program needs
 * @path: the program.
 * @label: the label text each record carries.
 * @count: set to the number of records whenever the analysis ran.
 *
 * The records are the program's direct shared-library dependencies (as objdump and whereis
 * find them) whose label is "unknown", under their real paths; the program itself comes
 * first when its own label is "unknown". Messages go to the log only.
 *
 * Returns: a malloc'd array of *@count records (free with free()), or NULL when empty, for
 * a NULL, missing, directory or non-program path.
 */
LUMEKWHLIST_PUBLIC MarkRecord *lumek_whlist_get_ldd_list(const char *path, const char *label, int32_t *count);

/**
 * lumek_exectl_ldd_set - label a program and its unlabelled dependencies
 * @path: the program; labelled only when its label is "unknown".
 * @label: the label text.
 *
 * The records of lumek_whlist_get_ldd_list() go to the framework in one exectl batch.
 *
 * Returns: 0 when there was nothing to label, else the batch setter's result; -1007 for NULL.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_exectl_ldd_set(const char *path, const char *label);

/**
 * lumek_exectl_multi_set_ldd - label records and the dependencies of their programs
 * @records: (path, label) records; an all-zero record is empty.
 * @count: how many @records holds.
 *
 * lumek_exectl_ldd_set() runs for every program among @records, then the whole array goes
 * to the framework in one exectl batch.
 *
 * Returns: the batch setter's result; -1007 for NULL @records or a count below 1.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_exectl_multi_set_ldd(MarkRecord *records, int32_t count);

/**
 * lumek_exectl_set_ldd_file - label a file, and a program's dependencies first
 * @path: the file.
 * @label: the label text.
 *
 * lumek_exectl_ldd_set() runs when @path is a program, then the single exectl setter labels
 * the file.
 *
 * Returns: the setter's result; -1007 for NULL.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_exectl_set_ldd_file(const char *path, const char *label);

/**
 * lumek_whlist_ldd_add - admit a program and its unlabelled dependencies one by one
 * @path: the program.
 *
 * The program and each of its "unknown" dependencies go to lumek_whlist_exectl_add()
 * (labels from the data lists).
 *
 * Every admission is tried, and each one refused is logged.
 *
 * Returns: 0; -1 when objdump could not be run; -2 NULL or missing path (EINVAL text in the
 * buffer), or a path holding one of ; & | > < ( ) ` ' "; -3 a directory or not a program;
 * else the first refused admission's result (1, -1 or -3, as lumek_whlist_exectl_add gives).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_ldd_add(const char *path);

/* Why a file gets its text (LumekLabelReason.rule). */
#define LUMEK_LABEL_RULE_MISSING      1 /* the file does not exist: "unknown" ("none" for protection) */
#define LUMEK_LABEL_RULE_UNCLASSIFIED 2 /* a link, or the type probe failed: no text */
#define LUMEK_LABEL_RULE_PROTECT      3 /* protection: "readonly" to add or update, else "none" */
#define LUMEK_LABEL_RULE_WRONG_KIND   4 /* the whitelist does not take this file type: no text */
#define LUMEK_LABEL_RULE_DELETE       5 /* removal from an exectl whitelist: "unknown" */
#define LUMEK_LABEL_RULE_NO_ABSOLUTE  6 /* no absolute path could be formed: "unknown" */
#define LUMEK_LABEL_RULE_LISTED       7 /* a data list names the file */
#define LUMEK_LABEL_RULE_NOT_LISTED   8 /* no data list names it: "verified" */

/* The label decision for one file, and the label the framework holds now. */
typedef struct LumekLabelReason {
    char label[32];            /* the decision's text; empty when the file takes none */
    int32_t rule;              /* LUMEK_LABEL_RULE_* */
    int32_t file_type;         /* what the framework's type probe reports (LUMEK_OBJ_*, or negative) */
    const char *list_file;     /* the data list that matched (static text), or NULL */
    int32_t line;              /* its 1-based line that matched, or 0 */
    int32_t by_real_path;      /* 1 when that line names a link (or other path) to the file */
    char matched[4096];        /* the matching line as written in the list */
    int32_t skipped_extension; /* 1 when package hooks skip the file by its extension */
    int32_t current_state;     /* 0 labelled, 1 no label or missing, 2 unreadable, 3 "unknown" */
    char current[32];          /* the exectl label the framework holds, empty when none */
} LumekLabelReason;

/**
 * lumek_whlist_label_explain - the text a labelling call would give a file, and why
 * @kind: the whitelist (LUMEK_KIND_*).
 * @op: the operation (LUMEK_OP_*).
 * @path: the file.
 * @out: receives the decision and the label the framework holds now.
 *
 * Nothing is changed; the decision is the one the labelling calls use.
 *
 * Returns: 0 and *@out filled, or -1007 for a NULL argument.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_label_explain(int32_t kind, int32_t op, const char *path,
                                                      LumekLabelReason *out);

/* Why a planned path is not sent (LumekPlanItem.skip). */
#define LUMEK_PLAN_SENT         0 /* sent as a record */
#define LUMEK_PLAN_SKIP_TMP     1 /* the path contains "/tmp/" */
#define LUMEK_PLAN_SKIP_MISSING 2 /* the file does not exist */
#define LUMEK_PLAN_SKIP_DIR     3 /* a directory */
#define LUMEK_PLAN_SKIP_LINK    4 /* a symbolic link */
#define LUMEK_PLAN_SKIP_TYPE    5 /* a file type the operation does not take */
#define LUMEK_PLAN_SKIP_FILTER  6 /* not of the requested type name */
#define LUMEK_PLAN_SKIP_LABEL   7 /* the decision gives no text */
#define LUMEK_PLAN_SKIP_LONG    8 /* 4096 bytes or longer, or not a path */

/* One path a package or directory operation would consider. */
typedef struct LumekPlanItem {
    const char *path;  /* as the record would carry it; kept in the array's own block */
    char label[32];    /* the text, for sent paths */
    int32_t file_type; /* what the type probe reports (negative when not probed) */
    int32_t skip;      /* LUMEK_PLAN_* */
} LumekPlanItem;

/**
 * lumek_whlist_plan_by_package, lumek_whlist_plan_by_dir - what a package or directory
 * operation would send
 * @op: the operation (LUMEK_OP_*).
 * @package: the package, as for lumek_whlist_add_by_package().
 * @kind, @type_name, @dir: as for lumek_whlist_add_by_dir().
 * @items: receives a malloc'd array whose paths are stored in the same block after it (free
 *         the array with free(), which releases the paths too), NULL when empty.
 * @count: receives its length.
 *
 * The plan is built by the code of the operation itself and lists the paths it leaves out
 * too. Nothing is sent to the framework.
 *
 * Returns: 0 when the operation would send records; -1008 when it would have none; -1007
 * for a NULL argument.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_plan_by_package(int32_t op, const char *package,
                                                        LumekPlanItem **items, int32_t *count);
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_plan_by_dir(int32_t op, int32_t kind, const char *type_name,
                                                    const char *dir, LumekPlanItem **items, int32_t *count);

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
 * lumek_get_process_info - snapshot of the running processes
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
 * lumek_nic_speedctl - limit the speed of a network interface
 * @nic: the interface's name.
 * @netmode: the direction: LUMEK_NIC_NETMODE_SEND, _RECV or _BOTH.
 * @speed: kilobytes per second, 1 to LUMEK_NIC_SPEED_MAX.
 *
 * The rate limit of @netmode on @nic is replaced.
 *
 * Returns: 0, or -1 when refused or when tc failed (nothing of the new limit is left).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedctl(const char *nic, int32_t netmode, int64_t speed);

/**
 * lumek_nic_speedclr - remove the speed limit of a network interface
 * @nic: the interface's name.
 * @netmode: the direction: LUMEK_NIC_NETMODE_SEND, _RECV or _BOTH.
 *
 * Returns: 0 (also when there was none), or -1 when refused or failed.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedclr(const char *nic, int32_t netmode);

/* ------------------------------------------------------------------------------------------
 * Kernel-enforced lists: netctl, ppro and pblk. Failures are small negative results and a
 * line in the framework log (the last-error buffer is not used).
 * ------------------------------------------------------------------------------------------ */

/**
 * _uid - the user whose netctl lists the vorda_netctl_ list functions act on
 *
 * The program and package list functions read it at every call. It is 0 at load time; the
 * library never writes it. Not synchronised: callers using several threads keep each
 * setting together with the calls that depend on it.
 */
extern LUMEKWHLIST_PUBLIC uint32_t _uid;

/**
 * vorda_netctl_status_set, vorda_ppro_status_set, vorda_pblk_status_set - switch a list
 * on or off
 * @status: netctl 0, 1 or 2; ppro and pblk 0 or 1.
 *
 * The switch takes effect at once and is made permanent.
 *
 * Returns: 0; 1 when the switch took effect but was not made permanent; -1 for a status
 * out of range; -2 when the framework is disabled; -3 when the framework refused it.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_status_set(int status);
LUMEKWHLIST_PUBLIC int vorda_ppro_status_set(int status);
LUMEKWHLIST_PUBLIC int vorda_pblk_status_set(int status);

/**
 * vorda_netctl_status_get, vorda_ppro_status_get, vorda_pblk_status_get - a list's switch
 *
 * Returns: the status (netctl 0, 1 or 2; ppro and pblk the framework's value, 0 or more);
 * -1 when it cannot be read; netctl -2 when the framework reports its warning state.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_status_get(void);
LUMEKWHLIST_PUBLIC int vorda_ppro_status_get(void);
LUMEKWHLIST_PUBLIC int vorda_pblk_status_get(void);

/**
 * vorda_netctl_list_add - put a program on _uid's netctl program list
 * @mode: 1 or 2; a listed program's mode is changed.
 * @path: an executable (not a shared library or libtool archive by name).
 *
 * The kernel is told of the entry once it is stored.
 *
 * Returns: 0; -1 bad mode or NULL path; -2 framework disabled; -3 not a program file;
 * -4 the store refused; -5 no path hash; -6 the kernel refused (the entry stays stored).
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_list_add(int mode, const char *path);

/**
 * vorda_netctl_list_del - take a program off _uid's netctl program list
 * @mode: 1 or 2; an entry stored with the other mode stays.
 * @path: the program.
 *
 * Returns: 0 (also when not listed in that mode); -1 bad arguments; -2 framework
 * disabled; -3 the store refused; -4 no path hash; -5 the kernel refused.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_list_del(int mode, const char *path);

/**
 * vorda_netctl_list_get, vorda_netctl_pkg_list_get - the programs or packages on _uid's
 * netctl list
 * @mode: 1 or 2.
 * @count: set to the number of elements when a list or no match is handed back; left
 *         alone for a bad mode, a NULL @count or an empty store.
 *
 * vorda_netctl_list_get gives program paths, vorda_netctl_pkg_list_get package names, in
 * the framework's order.
 *
 * Returns: a malloc'd array of @count malloc'd texts, with no NULL terminator (free each,
 * then the array), or NULL.
 */
LUMEKWHLIST_PUBLIC char **vorda_netctl_list_get(int mode, int *count);
LUMEKWHLIST_PUBLIC char **vorda_netctl_pkg_list_get(int mode, int *count);

/**
 * vorda_netctl_pkg_list_add, vorda_netctl_pkg_list_del - put a package on _uid's netctl
 * package list or take it off
 * @mode: 1 or 2; add changes a listed package's mode.
 * @pkg: the package's name.
 *
 * Only the store changes; the kernel is not told.
 *
 * Returns: 0 (del also when not listed in that mode); -1 bad arguments; -2 framework
 * disabled; add -4, del -3 when the store refused.
 */
LUMEKWHLIST_PUBLIC int vorda_netctl_pkg_list_add(int mode, const char *pkg);
LUMEKWHLIST_PUBLIC int vorda_netctl_pkg_list_del(int mode, const char *pkg);

/**
 * vorda_ppro_list_add - protect the processes of a program
 * @path: the program.
 * @type: 1 or 2; a listed program's type is changed.
 *
 * A process already running from @path is told at once.
 *
 * Returns: 0; -1 bad arguments; -2 framework disabled; -4 the store refused; -5 no path
 * hash; -6 the kernel refused.
 */
LUMEKWHLIST_PUBLIC int vorda_ppro_list_add(const char *path, int type);

/**
 * vorda_ppro_list_del - release a program from process protection
 * @path: the program.
 *
 * Returns: 0 (also when not listed); -1 NULL path; -2 framework disabled; -3 the store
 * refused; -4 no path hash; -5 the kernel refused; -7 the kernel refused the running
 * process.
 */
LUMEKWHLIST_PUBLIC int vorda_ppro_list_del(const char *path);

/**
 * vorda_ppro_list_get, vorda_pblk_list_get - every path on the ppro or pblk list
 * @count: set to the number of elements; left alone for an empty list or when NULL.
 *
 * The paths come in the framework's order.
 *
 * Returns: a malloc'd array of @count malloc'd paths, no NULL terminator (free each, then
 * the array), or NULL.
 */
LUMEKWHLIST_PUBLIC char **vorda_ppro_list_get(int *count);
LUMEKWHLIST_PUBLIC char **vorda_pblk_list_get(int *count);

/**
 * vorda_pblk_list_add, vorda_pblk_list_del - put a path on the pblk list or take it off
 * @path: the path; adding a listed path is refused.
 *
 * The kernel is told of the change.
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

/**
 * lumek_udeblist_create - create the framework's udeb list
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_create(void);
/**
 * lumek_udeblist_add - add an entry to the framework's udeb list
 * @first: passed to the framework unchanged.
 * @second: passed to the framework unchanged.
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_add(void *first, void *second);
/**
 * lumek_udeblist_del - delete an entry from the framework's udeb list
 * @first: passed to the framework unchanged.
 * @second: passed to the framework unchanged.
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_del(void *first, void *second);
/**
 * lumek_udeblist_clear - empty the framework's udeb list
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_clear(void);
/**
 * lumek_udeblist_get_root_distinguish - the udeb list's root-distinguish setting
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_get_root_distinguish(void);
/**
 * lumek_udeblist_set_root_distinguish - set the udeb list's root-distinguish setting
 * @value: passed to the framework unchanged.
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_set_root_distinguish(int value);
/**
 * lumek_udeblist_create_sm - create the framework's _sm udeb list
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_create_sm(void);
/**
 * lumek_udeblist_add_sm - add an entry to the framework's _sm udeb list
 * @first: passed to the framework unchanged.
 * @second: passed to the framework unchanged.
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_add_sm(void *first, void *second);
/**
 * lumek_udeblist_del_sm - delete an entry from the framework's _sm udeb list
 * @first: passed to the framework unchanged.
 * @second: passed to the framework unchanged.
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_del_sm(void *first, void *second);
/**
 * lumek_udeblist_clear_sm - empty the framework's _sm udeb list
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_clear_sm(void);
/**
 * lumek_udeblist_get_root_distinguish_sm - the _sm udeb list's root-distinguish setting
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_get_root_distinguish_sm(void);
/**
 * lumek_udeblist_set_root_distinguish_sm - set the _sm udeb list's root-distinguish setting
 * @value: passed to the framework unchanged.
 *
 * Returns: the framework's result, unchanged; -1 while the framework is disabled.
 */
LUMEKWHLIST_PUBLIC int lumek_udeblist_set_root_distinguish_sm(int value);

/**
 * lumek_udeblist_read_all_node_with_uid, lumek_udeblist_read_all_node_with_uid_sm - the
 * framework's udeb entries for a value
 * @first: passed to the framework unchanged.
 * @count: set to 0 first, then to what the framework leaves in it. NULL is refused.
 *
 * The _sm form reads the framework's _sm udeb list.
 *
 * Returns: the framework's result, released as the framework says (malloc'd: free); NULL
 * while the framework is disabled or for a NULL @count.
 */
LUMEKWHLIST_PUBLIC void *lumek_udeblist_read_all_node_with_uid(void *first, int *count);
LUMEKWHLIST_PUBLIC void *lumek_udeblist_read_all_node_with_uid_sm(void *first, int *count);

/* ------------------------------------------------------------------------------------------
 * Application identities (kid): package identities, policies, and the lists of resources,
 * applications, policies and network-control entries. Failures are result codes and
 * framework log lines; the last-error buffer is never written.
 * ------------------------------------------------------------------------------------------ */

/* Result codes of the kid family besides 0, -1007 (missing argument or value out of range),
 * -1011 (no package file list) and LUMEK_WHLIST_ERR_NO_MEMORY. */
#define LUMEK_KID_ERR_NO_KID (-1021) /* the kid of a subject or object cannot be determined */

/* Kid types; the shared resource kids exist for types 0 to 2 only. */
#define LUMEK_KID_TYPE_USER     0 /* 1 - 1000; 999 shared */
#define LUMEK_KID_TYPE_LEVEL1   1 /* 1001 - 2000; 1999 shared by level-1 applications */
#define LUMEK_KID_TYPE_LEVEL2   2 /* 2001 - 10000; 9999 shared by level-2 applications */
#define LUMEK_KID_TYPE_THIRD    3 /* 10001 - 500000; one kid per third app */
#define LUMEK_KID_TYPE_LISTED   4 /* 500001 - 1000000 */
#define LUMEK_KID_TYPE_ALL      5 /* 1 - 1000000, for resource lists only */
#define LUMEK_KID_SUBJECT_APP   0 /* subject (or name) is an application name */
#define LUMEK_KID_SUBJECT_FILE  1 /* subject (or name) is a file path */
#define LUMEK_KID_RES_FILE      0
#define LUMEK_KID_RES_DIRECTORY 2

/* Array elements of the _v2 functions, and list nodes (the same fields, then next). Lists are
 * built by pushing at the head. Texts are NUL-terminated. */
typedef struct KidResEntry {
    uint32_t kid_type; /* as the caller asked for */
    uint32_t res_type; /* LUMEK_KID_RES_* */
    char path[4096];
} KidResEntry; /* 4104 bytes */

typedef struct KidResItem {
    uint32_t kid_type;
    uint32_t res_type;
    char path[4096];
    struct KidResItem *next;
} KidResItem; /* 4112 bytes */

typedef struct KidAppEntry {
    char app_name[128];
    char pkg_name[128];
    uint32_t kid_type;
} KidAppEntry; /* 260 bytes */

typedef struct KidAppItem {
    char app_name[128];
    char pkg_name[128];
    uint32_t kid_type;
    struct KidAppItem *next;
} KidAppItem; /* 272 bytes */

typedef struct KidPolicyEntry {
    uint32_t sub_type; /* LUMEK_KID_SUBJECT_* */
    char subject[4096];
    char object[4096];
    uint32_t perm;
} KidPolicyEntry; /* 8200 bytes */

typedef struct KidPolicyItem {
    uint32_t sub_type;
    char subject[4096];
    char object[4096];
    uint32_t perm;
    struct KidPolicyItem *next;
} KidPolicyItem; /* 8208 bytes */

typedef struct KidNetctlEntry {
    uint32_t type; /* LUMEK_KID_SUBJECT_* */
    char name[4096];
} KidNetctlEntry; /* 4100 bytes */

typedef struct KidNetctlItem {
    uint32_t type;
    char name[4096];
    struct KidNetctlItem *next;
} KidNetctlItem; /* 4112 bytes */

/**
 * lumek_kid_whlist_func_status_get, lumek_kid_whlist_func_status_set - the framework's kid
 * feature switch
 * @status: the new value, passed to the framework unchanged.
 *
 * The framework's feature 10 is read or set; nothing is checked or logged.
 *
 * Returns: the framework's result, unchanged.
 */
LUMEKWHLIST_PUBLIC int lumek_kid_whlist_func_status_get(void);
LUMEKWHLIST_PUBLIC int lumek_kid_whlist_func_status_set(int status);

/**
 * lumek_kid_whlist_free_res_list, lumek_kid_whlist_free_app_list,
 * lumek_kid_whlist_free_policy_list, lumek_kid_whlist_free_netctl_list - free a kid list
 * @list: the list; every node is freed and *@list becomes NULL. A NULL @list does nothing.
 */
LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_res_list(KidResItem **list);
LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_app_list(KidAppItem **list);
LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_policy_list(KidPolicyItem **list);
LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_netctl_list(KidNetctlItem **list);

/**
 * lumek_kid_whlist_create_kid - give an installed package an identity of its own
 * @app_name: the application's name.
 * @pkg_name: the installed package.
 * @files, @count: the files to mark (kept by the caller); NULL: the package's own files.
 *
 * The package gets a new kid under @app_name, and the kid is written onto the files.
 *
 * Returns: 0; -1007 for a missing name, a negative count, a NULL or over-long file, or a
 * package that is not installed; the framework's result otherwise.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_create_kid(const char *app_name, const char *pkg_name,
                                                       char **files, int count);

/**
 * lumek_kid_whlist_remove_kid - detach the resources of a third app
 * @app_name: the application's name.
 *
 * Every resource of the application is detached and its files' kid cleared; the identity
 * itself stays.
 *
 * Returns: 0; -1007 for NULL or an application without a third-app kid; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_kid(const char *app_name);

/**
 * lumek_kid_whlist_improve_kid - raise a third app to a shared level
 * @type: the level: 1 (kid 1999) or 2 (kid 9999).
 * @app_name: the application's name.
 *
 * The application's resources are removed, then its package's files carry the shared kid.
 *
 * Returns: 0 (also when the package has no files: the application is then not raised); -1007
 * for a bad argument or an application without a third-app kid; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_improve_kid(int type, const char *app_name);

/**
 * lumek_kid_whlist_add_kid_policy, lumek_kid_whlist_update_kid_policy,
 * lumek_kid_whlist_remove_kid_policy - grant, change or withdraw a kid policy
 * @sub_type: LUMEK_KID_SUBJECT_APP or LUMEK_KID_SUBJECT_FILE.
 * @subject: the application name or file path.
 * @object: the file or directory the policy is on.
 * @perm: the permission bits (add and update).
 *
 * An update may name a user directory that does not exist yet. Running processes of a
 * third-app subject forget their cached decisions.
 *
 * Returns: 0; -1007 for a bad argument; -1021 when a kid cannot be determined; the framework's
 * result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_kid_policy(uint32_t sub_type, const char *subject,
                                                           const char *object, uint32_t perm);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_update_kid_policy(uint32_t sub_type, const char *subject,
                                                              const char *object, uint32_t perm);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_kid_policy(uint32_t sub_type, const char *subject,
                                                              const char *object);

/**
 * lumek_kid_whlist_load_policy_list, lumek_kid_whlist_load_policy_list_by_subject - kid
 * policies as subject names and object paths
 * @sub_type: LUMEK_KID_SUBJECT_APP or LUMEK_KID_SUBJECT_FILE (by subject).
 * @subject: the application name or file path (by subject).
 * @list: receives the list (NULL first; free with lumek_kid_whlist_free_policy_list()).
 *
 * lumek_kid_whlist_load_policy_list gives every policy; the _by_subject form the policies of
 * one subject, leaving out policies on kids 999 and 9999 and user directories of other
 * owners.
 *
 * Returns: 0; -1007 for a bad argument; -1021 (by subject) when the subject has no kid;
 * LUMEK_WHLIST_ERR_NO_MEMORY (nothing handed out); the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list(KidPolicyItem **list);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list_by_subject(uint32_t sub_type,
                                                                        const char *subject,
                                                                        KidPolicyItem **list);

/**
 * lumek_kid_whlist_load_res_list - the file and directory resources of a kid type
 * @kid_type: LUMEK_KID_TYPE_* (0-5); every kid of that type counts.
 * @type: accepted and has no effect.
 * @list: receives the list (free with lumek_kid_whlist_free_res_list()).
 *
 * Returns: 0; -1007 for a bad argument; LUMEK_WHLIST_ERR_NO_MEMORY; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_res_list(uint32_t kid_type, uint32_t type,
                                                          KidResItem **list);

/**
 * lumek_kid_whlist_get_app_or_file_kid_type - the kid type of an application or a file
 * @selector: LUMEK_KID_SUBJECT_APP (0) or LUMEK_KID_SUBJECT_FILE (1).
 * @name: the application name or file path.
 * @kid_type: receives the type (LUMEK_KID_TYPE_*), on success only.
 *
 * Returns: 0; -1007 for a bad argument; -1021 when there is no kid or it is in no type.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_get_app_or_file_kid_type(uint32_t selector, const char *name,
                                                                     uint32_t *kid_type);

/**
 * lumek_kid_whlist_load_app_list, lumek_kid_whlist_load_third_app_list,
 * lumek_kid_whlist_load_installed_app_list, lumek_kid_whlist_load_installed_third_app_list -
 * application lists
 * @list: receives the list (free with lumek_kid_whlist_free_app_list()).
 *
 * The app lists hold the applications of kids 9999 to 500000, the third-app lists those of
 * kids 10001 to 500000; the _installed_ forms keep those whose package is installed.
 *
 * Returns: 0; -1007 for a bad argument; LUMEK_WHLIST_ERR_NO_MEMORY; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_app_list(KidAppItem **list);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_third_app_list(KidAppItem **list);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_app_list(KidAppItem **list);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_third_app_list(KidAppItem **list);

/**
 * lumek_kid_whlist_load_res_list_v2, lumek_kid_whlist_load_app_list_v2,
 * lumek_kid_whlist_load_third_app_list_v2, lumek_kid_whlist_load_installed_app_list_v2,
 * lumek_kid_whlist_load_installed_third_app_list_v2, lumek_kid_whlist_load_policy_list_v2,
 * lumek_kid_whlist_load_policy_list_by_subject_v2 - kid lists as arrays
 * @kid_type, @type: as for lumek_kid_whlist_load_res_list().
 * @sub_type, @subject: as for lumek_kid_whlist_load_policy_list_by_subject().
 * @items, @count: set to NULL and 0 first; an empty list leaves them so.
 *
 * Each gives the list of the function without _v2 as one malloc'd array (release with
 * free()) in list order.
 *
 * Returns: -1007 when @items or @count is NULL; LUMEK_WHLIST_ERR_NO_MEMORY (nothing handed
 * out); otherwise the list loader's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_res_list_v2(uint32_t kid_type, uint32_t type,
                                                             KidResEntry **items, uint32_t *count);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_app_list_v2(KidAppEntry **items, uint32_t *count);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_third_app_list_v2(KidAppEntry **items, uint32_t *count);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_app_list_v2(KidAppEntry **items, uint32_t *count);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_third_app_list_v2(KidAppEntry **items,
                                                                             uint32_t *count);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list_v2(KidPolicyEntry **items, uint32_t *count);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list_by_subject_v2(uint32_t sub_type,
                                                                           const char *subject,
                                                                           KidPolicyEntry **items,
                                                                           uint32_t *count);

/**
 * lumek_kid_whlist_add_res, lumek_kid_whlist_remove_res - attach a path to a shared resource
 * kid or detach it
 * @kid_type: 0 (kid 999), 1 (kid 1999) or 2 (kid 9999).
 * @type: accepted and has no effect.
 * @path: the file or directory.
 *
 * The path is made absolute where possible; once the framework accepted the change, an
 * existing path carries the shared kid (or none, after removal). Nothing below a directory is
 * touched.
 *
 * Returns: 0; -1007 for NULL or a kid type above 2; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_res(uint32_t kid_type, uint32_t type, const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_res(uint32_t kid_type, uint32_t type, const char *path);

/**
 * lumek_kid_whlist_add_user_privacy_res - make a user directory private
 * @path: a directory directly inside a user's home under /home or directly inside /root.
 *
 * The directory gets a privacy kid (1-998), every third app gets a policy with no permission
 * on it, and everything below carries that kid. The path must be written as it is: no "."
 * or ".." component, no trailing "/", and neither it nor its home may be a symbolic link;
 * the home must be some user's home directory.
 *
 * Returns: 0; -1007 for any path refused above or when no privacy kid can be given; the
 * framework's result (earlier steps are not undone).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_user_privacy_res(const char *path);

/**
 * lumek_kid_whlist_remove_user_privcay_res, lumek_kid_whlist_remove_user_privacy_res - make a
 * user directory public again
 * @path: the directory, as for lumek_kid_whlist_add_user_privacy_res().
 *
 * The directory gets the shared kid 999: its privacy policies are deleted, other directories
 * of the same home that still carry the freed kid are reset, and running third apps forget
 * cached decisions. lumek_kid_whlist_remove_user_privacy_res is the same function under its
 * correct spelling.
 *
 * Returns: 0; -1007 as for adding; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_user_privcay_res(const char *path);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_user_privacy_res(const char *path);

/**
 * lumek_kid_whlist_add_kid_netctl, lumek_kid_whlist_remove_kid_netctl - put programs into
 * the kid network-control list or take them out
 * @type: 0: the programs of an application; 1: one program file.
 * @subject: for type 0 the application's name, which is also its package's name; for type 1
 *           the program's path, passed as given.
 *
 * Returns: 0; -1007 for a bad argument; -1021 when the subject has no kid; -1011 when the
 * package's file list cannot be read; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_kid_netctl(uint32_t type, const char *subject);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_kid_netctl(uint32_t type, const char *subject);

/**
 * lumek_kid_whlist_load_netctl_list, lumek_kid_whlist_load_netctl_list_v2 - the kid
 * network-control list
 * @list: receives the list (NULL first; free with lumek_kid_whlist_free_netctl_list()).
 * @items, @count: the _v2 form's array (release with free()) in list order, and its length.
 *
 * Entries are package names (type 0) or program paths (type 1); entries whose program is
 * gone are left out.
 *
 * Returns: 0; -1007 for a NULL address; LUMEK_WHLIST_ERR_NO_MEMORY; the framework's result.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_netctl_list(KidNetctlItem **list);
LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_netctl_list_v2(KidNetctlEntry **items, uint32_t *count);

/* ------------------------------------------------------------------------------------------
 * Package-manager hooks: what the package manager calls for the files it installs. Each
 * returns 0 at once while the framework is disabled. Files that do not exist or whose name
 * ends in a data-file extension (".h", ".c", ".xml", ".txt", ".png", ".html", ".gif",
 * ".bmp", ".jpg", ".cpp", ".js", ".svg", ".json", ".md", ".map", ".css") are skipped.
 * ------------------------------------------------------------------------------------------ */
/**
 * lumek_whlist_exectl_add_for_dpkg - label one installed file
 * @path: the file.
 *
 * Programs, libraries and scripts are labelled as lumek_whlist_add() does with
 * LUMEK_KIND_EXECTL, kernel modules as with LUMEK_KIND_KMOD, any other file (links and
 * unclassifiable files too) "verified".
 *
 * Returns: 0 labelled, skipped or disabled; 1 authorisation failed or cancelled; -1 other
 * failure; -2 NULL or missing @path (EINVAL text in the last-error buffer).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_add_for_dpkg(const char *path);
/**
 * lumek_whlist_exectl_multi_add_for_dpkg - label installed files in one typed batch
 * @paths: the files; NULL elements are skipped.
 * @count: how many @paths holds.
 *
 * Labels come from the data lists whatever the file type ("verified" when no list names a
 * file); a "verified" file keeps the special label ("vordsw", "trusted", "parent",
 * "script") the rtdb records for it.
 *
 * Returns: the batch setter's result (0 or more), 0 when disabled or nothing was left to
 * label; -1 no rtdb (nothing is labelled) or authorisation failed or cancelled; -2 NULL
 * @paths or @count not above 0; -3 other batch failure ("OBJECT: REASON" in the buffer).
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_multi_add_for_dpkg(const char **paths, int32_t count);
/**
 * lumek_whlist_protect_set_by_name_for_dpkg - protect the files of a read-only package
 * @package: the package's name (":ARCH" is dropped).
 * @paths: the package's files.
 * @count: how many @paths holds.
 *
 * When @package is a line of "/usr/share/lumek-utils/data/readonly_pkg_list", the programs,
 * libraries and kernel modules among @paths are protected as "readonly".
 *
 * Returns: the batch setter's result (0 or more), 0 when disabled or nothing to protect;
 * -1 NULL @package or @paths, @count not above 0, or authorisation failed or cancelled;
 * -2 list unreadable or package not listed (the buffer is left alone); -3 other batch
 * failure.
 */
LUMEKWHLIST_PUBLIC int32_t lumek_whlist_protect_set_by_name_for_dpkg(const char *package, const char **paths,
                                                                     int32_t count);

#ifdef __cplusplus
}
#endif

#endif /* LUMEKWHLIST_H */
