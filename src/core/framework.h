// The framework's service interface: every call the library makes into the platform's
// closed service libraries, with C linkage. The stand-in (standin/framework) implements
// the same declarations; a system build links the real libraries. Nothing else in src/
// knows which of the two it got.
#pragma once

#include <stdint.h>

#include "lumekwhlist.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LUMEK_FW_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

/* ---- Records ------------------------------------------------------------------------- */

/* The framework's error record, as lumek_get_error() points to it. The object text may
 * fill all 256 bytes without a terminator; read it bounded. */
typedef struct LumekErrorRecord {
    int32_t code;
    char object[256];
    char message[1024];
} LumekErrorRecord;

/* MarkRecord and TypedMarkRecord, the batch records of the label and protection setters,
 * are caller-visible and live in the public header. */

/* ---- Status, configuration, roles ---------------------------------------------------- */

int lumek_getstatus(void); /* 0: framework disabled */
int lumek_setstatus(int status);
int lumek_get_func_status(int func);            /* negative: failure */
int lumek_set_func_status(int func, int value); /* 0: done */
int is_secadm(void);
int is_auditadm(void);
int lumek_conf_add(void);
int lumek_conf_set(const char *key, int value); /* 0: done */

/* ---- Log and error record ------------------------------------------------------------ */

/* One log line. @func is data (it may be a caller's path), never a format. */
int lumek_log(int level, int flag, const char *func, const char *fmt, ...) LUMEK_FW_PRINTF(4, 5);
LumekErrorRecord *lumek_get_error(void);

/* ---- Paths and file types ------------------------------------------------------------ */

int path_is_exist(const char *path);            /* negative: missing; 1: exists */
int path_is_dir(const char *path);              /* 1: directory */
int path_is_link(const char *path);             /* non-zero: symbolic link (not followed) */
int path_is_reg(const char *path);              /* 1: regular file */
int path_is_same(const char *a, const char *b); /* 1: same file */
char *get_absolute_path(const char *path);      /* malloc'd, or NULL with errno */
/* Arrays of malloc'd texts: free each, then the array. NULL on failure. */
char **get_file_list_from_dir(const char *dir, int *count);
char **get_dir_list(const char *dir, int *count);
char **get_path_list_from_dir(const char *dir, int *count);
/* 0 program, 1 library, 2 script, 3 kernel module, 4 other, 5 symbolic link; negative
 * when unclassified. */
int parse_file_type(const char *path);
int trans_type_str_2_type(const char *name);

/* ---- Labels and protection ----------------------------------------------------------- */

/* 0 and a malloc'd label text; on failure errno ENODATA (no label) or ENOENT (missing). */
int lumek_exectl_get(const char *path, char **label);
int lumek_exectl_set(const char *path, const char *label);
int lumek_exectl_multi_set(MarkRecord *records, int count); /* >= 0: done */
int lumek_exectl_multi_set_for_dpkg(TypedMarkRecord *records, int count);
int lumek_protect_set(const char *path, const char *protect);
int lumek_protect_set_sm(const char *path, const char *protect);
int lumek_protect_multi_set(MarkRecord *records, int count);
int lumek_protect_multi_set_sm(MarkRecord *records, int count);
int add_to_kmod_protect(const char *name);
int remove_from_kmod_protect(const char *name);
int add_to_kmod_protect_sm(const char *name);
int remove_from_kmod_protect_sm(const char *name);

/* ---- memdb ---------------------------------------------------------------------------- */

/* Value type codes of record slots and query conditions. */
#define LUMEK_MEMDB_TYPE_INT32  3 /* value points at a 32-bit signed integer */
#define LUMEK_MEMDB_TYPE_STRING 5 /* value points at a NUL-terminated text */

/* Operators of query conditions. */
#define LUMEK_MEMDB_OP_EQ 1
#define LUMEK_MEMDB_OP_NE 2
#define LUMEK_MEMDB_OP_GT 8 /* integer column greater than the value */

#define LUMEK_MEMDB_MAX_COLUMNS    16
#define LUMEK_MEMDB_MAX_CONDITIONS 16

typedef struct MemdbColumn {
    int32_t type; /* LUMEK_MEMDB_TYPE_* */
    int32_t pad;  /* zero */
    void *value;
} MemdbColumn;

/* 264 bytes; slot i always describes column i; slots from @count on stay zero. */
typedef struct MemdbRecord {
    int32_t count;
    int32_t pad;
    MemdbColumn columns[LUMEK_MEMDB_MAX_COLUMNS];
} MemdbRecord;

typedef struct MemdbCondition {
    int32_t op; /* LUMEK_MEMDB_OP_* */
    int32_t column;
    int32_t type; /* LUMEK_MEMDB_TYPE_* of the value compared with */
    int32_t pad;  /* zero */
    void *value;
} MemdbCondition;

/* 392 bytes; a record matches when it meets every condition. */
typedef struct MemdbQuery {
    int32_t count;
    int32_t pad;
    MemdbCondition conditions[LUMEK_MEMDB_MAX_CONDITIONS];
} MemdbQuery;

/* Opaque connection to one memdb database. */
typedef struct MemdbHandle MemdbHandle;

/* Called once per matching record; the record and its values belong to the memdb and
 * are valid only during the call. */
typedef int (*MemdbRetrieveCallback)(const MemdbRecord *record, void *user_data);

/* All memdb calls set errno on failure. */
MemdbHandle *lumek_memdb_create_database(int key, int size); /* NULL: failure */
int lumek_memdb_create_t_tree_index(MemdbHandle *db, int column);
MemdbHandle *lumek_memdb_connect_database(int key); /* NULL: no such database */
int lumek_memdb_disconnect_database(MemdbHandle *db);
int lumek_memdb_delete_database(int key);
/* Stores a deep copy of every value. */
int lumek_memdb_create_record(MemdbHandle *db, MemdbRecord record);
/* Deletes every record whose first @record.count columns equal the values (type and
 * value); 0 also when nothing matched. */
int lumek_memdb_delete_record(MemdbHandle *db, MemdbRecord record);
int lumek_memdb_retrive(MemdbHandle *db, MemdbRetrieveCallback cb, void *user_data, MemdbQuery query);

/* ---- Application identities (kid) ---------------------------------------------------- */

/* One application identity, 264 bytes; passed by value to create/improve. */
typedef struct KidInfoRecord {
    uint32_t kid;
    char app_name[128];
    char pkg_name[128];
    uint32_t kid_type;
} KidInfoRecord;

typedef struct KidInfoNode {
    KidInfoRecord info;
    struct KidInfoNode *next; /* at 264 */
} KidInfoNode;

/* One resource of a kid; exists only as a list node. */
typedef struct KidResRecord {
    uint32_t kid;
    uint32_t res_type; /* 0 file, 2 directory */
    char path[4096];
    char app_name[128];
    struct KidResRecord *next; /* at 4232 */
} KidResRecord;

/* One access policy, 20 bytes; arrays of them go to the privilege calls. */
typedef struct KidPrivilegeRecord {
    uint32_t sub_kid;
    uint32_t obj_kid;
    uint32_t uid;
    uint32_t perm;
    uint32_t reserved; /* always 0 */
} KidPrivilegeRecord;

typedef struct KidPrivilegeNode {
    KidPrivilegeRecord priv;
    struct KidPrivilegeNode *next; /* at 24, after 4 bytes of padding */
} KidPrivilegeNode;

/* One network-control entry, 4104 bytes. */
typedef struct KidNetctlRecord {
    uint32_t kid;
    uint32_t flag; /* always 1 */
    char path[4096];
} KidNetctlRecord;

typedef struct KidNetctlNode {
    KidNetctlRecord netctl;
    struct KidNetctlNode *next; /* at 4104 */
} KidNetctlNode;

/* Kid texts are malloc'd decimal numbers; "0" written with lumek_kid_set removes the kid. */
int lumek_kid_get(const char *path, char **kid_text);
int lumek_kid_get_by_pid(int pid, char **kid_text);
int lumek_kid_set(const char *path, const char *kid_text);
int lumek_kid_get_kid_by_app_name(const char *app_name); /* negative: none */
int lumek_kid_apply_for_kid(const char *app_name, const char *pkg_name, int flag);
int lumek_kid_create_kid_data(char **files, int count, KidInfoRecord info);
int lumek_kid_improve_kid_data(uint32_t old_kid, char **files, int count, KidInfoRecord info);
int lumek_kid_multi_set(MarkRecord *records, int count); /* label field: the kid text */

/* Lists come back through @list (NULL: empty) and are released with the matching free call. */
int lumek_kid_load_kid_res_list(uint32_t kid, KidResRecord **list);
int lumek_kid_load_kid_res_list_by_kid_range(uint32_t lowest, uint32_t highest, KidResRecord **list);
void lumek_kid_free_kid_res_list(KidResRecord *list);
int lumek_kid_add_kid_res_list(uint32_t kid, uint32_t res_type, char **paths, int count);
int lumek_kid_remove_kid_res_list(uint32_t kid, uint32_t res_type, char **paths, int count);

int lumek_kid_load_kid_info_list(uint32_t kid, KidInfoNode **list);
int lumek_kid_load_kid_info_list_by_kid_range(uint32_t lowest, uint32_t highest, KidInfoNode **list);
void lumek_kid_free_kid_info_list(KidInfoNode *list);
int lumek_kid_load_kid_data(uint32_t kid, KidInfoNode **info, KidResRecord **res);

/* @records may be NULL when @count is 0. */
int lumek_kid_create_kid_privilege(KidPrivilegeRecord *records, int count);
int lumek_kid_update_kid_privilege(KidPrivilegeRecord *records, int count);
int lumek_kid_remove_kid_privilege(KidPrivilegeRecord *records, int count);
int lumek_kid_load_kid_privilege(KidPrivilegeNode **list);
int lumek_kid_load_kid_privilege_by_subject(uint32_t sub_kid, KidPrivilegeNode **list);
void lumek_kid_free_kid_priv_list(KidPrivilegeNode *list);
int lumek_kid_privilege_is_support_uid(void); /* 1: supported */
/* Command 22 with the address of a 32-bit pid and length 4 drops a process's cached
 * policy decisions. */
int lumek_kid_communicate_with_kernel(int command, void *data, int length);

int lumek_kid_create_kid_netctl(KidNetctlRecord *records, int count);
int lumek_kid_remove_kid_netctl(KidNetctlRecord *records, int count);
int lumek_kid_load_kid_netctl(KidNetctlNode **list);
void lumek_kid_free_kid_netctl_list(KidNetctlNode *list);

/* ---- Kernel lists: netctl, ppro, pblk ------------------------------------------------ */

/* A user's program entry, 8524 bytes; arrays are packed. */
typedef struct NetctlRecord {
    char path[4164]; /* NUL-terminated unless it fills the field */
    int32_t mode;    /* at 4164 */
    char reserved[8524 - 4168];
} NetctlRecord;

/* A user's package entry, 8328 bytes. */
typedef struct NetctlPkgRecord {
    char name[128];
    int32_t mode; /* at 128 */
    char reserved[8328 - 132];
} NetctlPkgRecord;

/* A process-protection entry, 4168 bytes. */
typedef struct PproRecord {
    char path[4164];
    int32_t type; /* at 4164 */
} PproRecord;

/* A pblk entry, 4161 bytes: array elements are not aligned. */
typedef struct PblkRecord {
    char path[4161];
} PblkRecord;

/* Single records, arrays and hashes are malloc'd; hashes are opaque. */
NetctlRecord *lumek_netctl_read_node_with_uid(uint32_t uid, const char *path);
int lumek_netctl_add(uint32_t uid, const char *path, int mode, const char *name, int a, int b);
int lumek_netctl_update(uint32_t uid, const char *path, int mode, const char *name, int a, int b);
int lumek_netctl_remove(uint32_t uid, const char *path);
void *lumek_netctl_get_path_hash(const char *path, uint32_t uid);            /* path first */
int lumek_netctl_communicate_with_kernel(int command, void *hash, int mode); /* 1 add, 2 del */
NetctlRecord *lumek_netctl_read_all_data_with_uid(uint32_t uid, int *count);

NetctlPkgRecord *lumek_netctl_pkg_read_node_with_uid(uint32_t uid, const char *pkg);
int lumek_netctl_pkg_add(uint32_t uid, const char *pkg, int mode, const char *name, int a, int b);
int lumek_netctl_pkg_update(uint32_t uid, const char *pkg, int mode, const char *name, int a, int b);
int lumek_netctl_pkg_remove(uint32_t uid, const char *pkg);
NetctlPkgRecord *lumek_netctl_pkg_read_all_data_with_uid(uint32_t uid, int *count);

PproRecord *lumek_ppro_read_node_with_path(const char *path);
int lumek_ppro_add(const char *path, int type);
int lumek_ppro_update(const char *path, int type);
int lumek_ppro_remove(const char *path);
void *lumek_ppro_get_path_hash(const char *path);
/* 9/10: @data is a path hash, @value the type; 11/12: @data is an 8-byte "add"/"del"
 * word, @value a pid. */
int lumek_ppro_communicate_with_kernel(int command, void *data, int value);
int lumek_get_pid_by_path(const char *path); /* > 0: a running process */
int lumek_check_readonly_ppro_support(void); /* 1: supported */
PproRecord *lumek_ppro_read_all_data(int *count);

PblkRecord *lumek_pblk_read_node_with_path(const char *path);
int lumek_pblk_add(const char *path);
int lumek_pblk_remove(const char *path);
void *lumek_pblk_get_path_hash(const char *path);
int lumek_pblk_communicate_with_kernel(int command, void *hash); /* 20 add, 21 del */
PblkRecord *lumek_pblk_read_all_data(int *count);

/* ---- udeb list ------------------------------------------------------------------------ */

/* The values are the framework's; callers pass them through unchanged. */
int vorda_udeblist_create(void);
int vorda_udeblist_add(void *first, void *second);
int vorda_udeblist_del(void *first, void *second);
int vorda_udeblist_clear(void);
int vorda_udeblist_get_root_distinguish(void);
int vorda_udeblist_set_root_distinguish(int value);
void *vorda_udeblist_read_all_node_with_uid(void *first, int *count);
int vorda_udeblist_create_sm(void);
int vorda_udeblist_add_sm(void *first, void *second);
int vorda_udeblist_del_sm(void *first, void *second);
int vorda_udeblist_clear_sm(void);
int vorda_udeblist_get_root_distinguish_sm(void);
int vorda_udeblist_set_root_distinguish_sm(int value);
void *vorda_udeblist_read_all_node_with_uid_sm(void *first, int *count);

#ifdef __cplusplus
}
#endif
