/*
 * standin_control.h - inspection and fault injection of the framework stand-in.
 *
 * For tests, the demo and the lumek-standin command. These calls act on the same state
 * directory as the framework calls (LUMEK_STANDIN_DIR, else "/var/lib/lumek-standin")
 * and are never recorded in the call log. Texts and arrays handed back are malloc'd and
 * belong to the caller: free each text, then the array.
 */
#ifndef LUMEK_STANDIN_CONTROL_H
#define LUMEK_STANDIN_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A scripted result for the next calls of one framework function. */
typedef struct LumekStandinFault {
    int times;     /* how many calls it applies to; -1: every call until cleared */
    int ret;       /* value returned (pointer-returning calls return NULL; the list
                      read-alls leave ret in their count) */
    int err;       /* errno left behind; 0 leaves errno alone */
    int set_error; /* non-zero: fill the error record with the three fields below */
    int32_t code;
    char object[256];   /* copied raw: it need not hold a NUL */
    char message[1024]; /* NUL-terminated */
} LumekStandinFault;

/* The state directory in use. Returns a malloc'd text. */
char *lumek_standin_state_dir(void);

/* Forgets every label, protection, module, setting, fault, call and log line.
 * Returns 0, or -1 when the store cannot be opened. */
int lumek_standin_reset(void);

/* The exectl label (or protection text, @sm selecting the _sm setters' store) recorded
 * for @path, keyed like the setters key it. Returns a malloc'd text, or NULL when none. */
char *lumek_standin_label(const char *path);
char *lumek_standin_protection(const char *path, int sm);
/* Sets a label without a call-log entry (fixtures). Returns 0 or -1. */
int lumek_standin_set_label(const char *path, const char *label);

/* One file the stand-in holds a label or a protection text for. */
typedef struct LumekStandinEntry {
    char *path;    /* key of the stores (cleaned absolute path) */
    char *label;   /* exectl label, NULL when none */
    char *protect; /* protection text of the chosen store, NULL when none */
    int file_type; /* as parse_file_type gives it now; negative when unclassified or missing */
} LumekStandinEntry;

/* Every file with an exectl label or a protection text (@sm: the _sm protection store),
 * ordered by path. Returns a malloc'd array (free with lumek_standin_free_entries) and its
 * length in @count, or NULL on error. */
LumekStandinEntry *lumek_standin_entries(int sm, int *count);
void lumek_standin_free_entries(LumekStandinEntry *entries, int count);
/* Records a protection text without a call-log entry. Returns 0 or -1. */
int lumek_standin_set_protection(const char *path, const char *text, int sm);

/* Runs @fn(@ctx) in one transaction of the state store: what it changed is kept when it
 * returns 0 and the commit succeeds, else rolled back. @fn may use the calls of this header,
 * not the framework's own calls (those open transactions of their own). Returns 0 or -1. */
int lumek_standin_transaction(int (*fn)(void *ctx), void *ctx);

/* The protected module set (@sm: the _sm set), ordered by name. Free with
 * lumek_standin_free_lines(). NULL on error. */
char **lumek_standin_kmods(int sm, int *count);

/* Named texts kept for other components (the reference daemon's bgset text, for one).
 * lumek_standin_text returns a malloc'd text or NULL when unset; a NULL @text unsets. */
char *lumek_standin_text(const char *key);
int lumek_standin_set_text(const char *key, const char *text);

/* 1 when @name is in the protected module set (@sm: the _sm set), 0 when not, -1 on error. */
int lumek_standin_kmod_protected(const char *name, int sm);

/* Reads the framework status, role flags and configuration values without a log entry;
 * the setters change them the same way. @role is "status", "secadm" or "auditadm".
 * Returns the value, or @fallback when unset. */
int64_t lumek_standin_get_flag(const char *role, int64_t fallback);
int lumek_standin_set_flag(const char *role, int64_t value);
int lumek_standin_conf_value(const char *key, int *value); /* 0 and *value, or -1 */

/* The call log in call order, as lines "func(args)"; only @func's calls when it is not
 * NULL. Returns a malloc'd array (NULL-terminated) and its length in @count, or NULL. */
char **lumek_standin_calls(const char *func, int *count);
/* How many calls of @func (every function when NULL) were recorded. */
int lumek_standin_call_count(const char *func);

/* The framework log's lines "level|flag|func|text", with "\n" and "\\" escaped in both texts
 * and "|" escaped as "\|" in func; a NULL func shows as "\N". Returns a malloc'd array (NULL-terminated), or
 * NULL. */
char **lumek_standin_log_lines(int *count);

/* Makes the next calls of @func fail (or answer) as @fault says; replaces an earlier
 * fault of @func. Returns 0 or -1. */
int lumek_standin_fault_set(const char *func, const LumekStandinFault *fault);
/* Lets the next @calls calls of @func through untouched before its fault applies (the
 * fault must be set first). Returns 0 or -1. */
int lumek_standin_fault_skip(const char *func, int calls);
/* Clears @func's fault, or every fault when @func is NULL. Returns 0 or -1. */
int lumek_standin_fault_clear(const char *func);
/* Makes every later read-all of @func that no fault stops answer with an array (its
 * records, padded with zeroed ones to at least max(@count, 1)) and leave @count in its
 * count, until reset. Returns 0 or -1. */
int lumek_standin_count_set(const char *func, int count);

/* Kernel-enforced lists. The entries of @list in the framework's order, as lines:
 * "netctl" gives "UID MODE PATH", "netctl_pkg" "UID MODE NAME", "ppro" "TYPE PATH",
 * "pblk" "PATH", "udeb" "SM FIRST SECOND", "func_status" "FEATURE VALUE" (the runtime
 * feature statuses; numbers in decimal). Returns a malloc'd array
 * (NULL-terminated) and its length in @count, or NULL for an unknown list.
 * Read-only process protection is reported supported unless the flag "ppro_readonly"
 * (lumek_standin_set_flag) is set to another value than 1. */
char **lumek_standin_list_entries(const char *list, int *count);
/* The commands the kernel got, in order, as lines "LIST COMMAND DATA VALUE" (DATA: the
 * path hash, or the "add"/"del" word of ppro commands 11 and 12); only @list's ("netctl",
 * "ppro", "pblk") when not NULL. Returns a malloc'd array (NULL-terminated), or NULL. */
char **lumek_standin_kernel_commands(const char *list, int *count);

/* Application identities. lumek_standin_list_entries also knows "kid_info" ("KID TYPE APP
 * PKG"), "kid_res" ("KID RESTYPE PATH"), "kid_priv" ("SUB OBJ UID PERM"), "kid_netctl"
 * ("KID FLAG PATH"), "kid_file" ("KID PATH", by path) and "kid_pid" ("PID KID"); kernel
 * command 22 shows as "kid 22 PID 4". The framework's uid support of policies is the flag
 * "kid_uid_support" (1 unless set otherwise). None of these calls is logged. */
/* The kid text of @path (keyed like lumek_kid_set keys it): malloc'd, or NULL when none. */
char *lumek_standin_kid_of(const char *path);
/* Sets the kid text of @path, or of the process @pid; NULL removes it. Returns 0 or -1. */
int lumek_standin_kid_set_path(const char *path, const char *kid_text);
int lumek_standin_kid_set_pid(int pid, const char *kid_text);
/* Stores an identity record as the framework's create call would. Returns 0 or -1. */
int lumek_standin_kid_add_info(uint32_t kid, const char *app_name, const char *pkg_name, uint32_t kid_type);
/* Stores a policy record as the framework's create call would. Returns 0 or -1. */
int lumek_standin_kid_add_policy(uint32_t sub_kid, uint32_t obj_kid, uint32_t uid, uint32_t perm);
/* memdb: the framework's runtime memory database. One record as the control calls see it. */
typedef struct LumekStandinMemdbRecord {
    int count;          /* values in use, 0 to 16 */
    int type[16];       /* 3: integer, 5: text */
    int32_t number[16]; /* the value of an integer */
    char *text[16];     /* the value of a text (malloc'd); NULL for an integer */
} LumekStandinMemdbRecord;

/* The memdb's databases by key, as lines "KEY SIZE RECORDS INDEXED" (INDEXED: the indexed
 * column numbers joined by ",", or "-"). Returns a malloc'd array (NULL-terminated), or NULL. */
char **lumek_standin_memdb_databases(int *count);
/* The records of database @key in the order they were stored. Returns a malloc'd array
 * (free with lumek_standin_memdb_free_records) and its length in @count; NULL when the
 * database does not exist or the store cannot be read. */
LumekStandinMemdbRecord *lumek_standin_memdb_records(int key, int *count);
void lumek_standin_memdb_free_records(LumekStandinMemdbRecord *records, int count);
/* Stores @record in database @key as lumek_memdb_create_record does, without a call-log
 * entry (fixtures: duplicates, records of a foreign shape). Returns 0 or -1. */
int lumek_standin_memdb_insert(int key, const LumekStandinMemdbRecord *record);
/* Stores a resource record (@app_name may be NULL) and a network-control entry as the
 * framework would hold them, without a call-log entry. Return 0 or -1. */
int lumek_standin_kid_add_res(uint32_t kid, uint32_t res_type, const char *path, const char *app_name);
int lumek_standin_kid_add_netctl(uint32_t kid, uint32_t flag, const char *path);

/* Frees an array from the calls above: each text, then the array. */
void lumek_standin_free_lines(char **lines, int count);

#ifdef __cplusplus
}
#endif

#endif
