// The framework's service interface: every call the library makes into the platform's
// closed service libraries, with C linkage. The stand-in (standin/framework) implements
// the same declarations; a system build links the real libraries. Nothing else in src/
// knows which of the two it got.
#pragma once

#include <stdint.h>

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

/* Batch record of the label and protection setters; arrays are packed with no header. */
typedef struct MarkRecord {
    char path[4096];
    char label[32];
} MarkRecord;

/* Batch record of the package-manager label setter. */
typedef struct TypedMarkRecord {
    char path[4096];
    char label[32];
    int32_t file_type;
} TypedMarkRecord;

/* ---- Status, configuration, roles ---------------------------------------------------- */

int lumek_getstatus(void);                       /* 0: framework disabled */
int lumek_setstatus(int status);
int lumek_get_func_status(int func);             /* negative: failure */
int lumek_set_func_status(int func, int value);  /* 0: done */
int is_secadm(void);
int is_auditadm(void);
int lumek_conf_add(void);
int lumek_conf_set(const char *key, int value);  /* 0: done */

/* ---- Log and error record ------------------------------------------------------------ */

/* One log line. @func is data (it may be a caller's path), never a format. */
int lumek_log(int level, int flag, const char *func, const char *fmt, ...) LUMEK_FW_PRINTF(4, 5);
LumekErrorRecord *lumek_get_error(void);

/* ---- Paths and file types ------------------------------------------------------------ */

int path_is_exist(const char *path);             /* negative: missing; 1: exists */
int path_is_dir(const char *path);               /* 1: directory */
int path_is_link(const char *path);              /* non-zero: symbolic link (not followed) */
int path_is_reg(const char *path);               /* 1: regular file */
int path_is_same(const char *a, const char *b);  /* 1: same file */
char *get_absolute_path(const char *path);       /* malloc'd, or NULL with errno */
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
int lumek_exectl_multi_set(MarkRecord *records, int count);          /* >= 0: done */
int lumek_exectl_multi_set_for_dpkg(TypedMarkRecord *records, int count);
int lumek_protect_set(const char *path, const char *protect);
int lumek_protect_set_sm(const char *path, const char *protect);
int lumek_protect_multi_set(MarkRecord *records, int count);
int lumek_protect_multi_set_sm(MarkRecord *records, int count);
int add_to_kmod_protect(const char *name);
int remove_from_kmod_protect(const char *name);
int add_to_kmod_protect_sm(const char *name);
int remove_from_kmod_protect_sm(const char *name);

/* ---- memdb, kid, kernel lists, udeb list: declared below by their subsystems' needs. -- */

#ifdef __cplusplus
}
#endif
