/* The public header is plain C: this program includes nothing else of the library and
 * calls one function of every family. It must build with a C compiler against the
 * installed header and pkg-config file. */
#include <lumekwhlist.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    int failures = 0;

    const char *err = lumek_whlist_last_err();
    if (err == NULL || err[0] != '\0') {
        fprintf(stderr, "last error not empty at start\n");
        failures++;
    }
    if (lumek_whlist_handling_dbus_error(NULL) != 0) {
        fprintf(stderr, "NULL error did not map to 0\n");
        failures++;
    }
    int32_t result = 12345;
    if (lumek_whlist_process_dbus_method(NULL, NULL, &result) != NULL ||
        result != LUMEK_WHLIST_ERR_INVALID_ARG) {
        fprintf(stderr, "NULL method name not refused\n");
        failures++;
    }

    if (lumek_whlist_load_all(NULL) != LUMEK_WHLIST_ERR_INVALID_ARG ||
        create_object_list_entry(NULL, "/a", "h", "program", "verified", "none", 0, 0) != -1 ||
        lumek_whlist_parse_exectl_type("trusted") != LUMEK_EXECTL_TRUSTED) {
        fprintf(stderr, "whitelist object calls misbehave\n");
        failures++;
    }

    uint32_t count = 7;
    if (lumek_get_process_info(NULL, &count) != -1 || count != 0) {
        fprintf(stderr, "NULL record array not refused\n");
        failures++;
    }
    if (lumek_nic_speedctl(NULL, LUMEK_NIC_NETMODE_SEND, 1) != -1) {
        fprintf(stderr, "NULL interface not refused\n");
        failures++;
    }

    /* File labelling: a NULL path is refused before any framework call. */
    if (lumek_whlist_add(LUMEK_KIND_EXECTL, NULL) != LUMEK_WHLIST_ERR_INVALID_ARG ||
        sizeof(MarkRecord) != 4128) {
        fprintf(stderr, "labelling calls misbehave\n");
        failures++;
    }

    /* Kernel lists and udeb: refusals that reach no framework service. */
    if (_uid != 0 || vorda_ppro_list_get(NULL) != NULL) {
        fprintf(stderr, "kernel lists: _uid not 0 or NULL count not refused\n");
        failures++;
    }
    if (lumek_udeblist_read_all_node_with_uid(NULL, NULL) != NULL) {
        fprintf(stderr, "udeb: NULL count not refused\n");
        failures++;
    }

    /* kid: a _v2 array call refuses a NULL count without a framework call. */
    {
        KidPolicyEntry *items = NULL;
        if (lumek_kid_whlist_load_policy_list_v2(&items, NULL) != LUMEK_WHLIST_ERR_INVALID_ARG ||
            items != NULL || sizeof(KidPolicyItem) != 8208) {
            fprintf(stderr, "kid: NULL count not refused or KidPolicyItem not 8208 bytes\n");
            failures++;
        }
    }
    /* rtdb: NULL arguments are refused before the memory database is reached. */
    if (lumek_memdb_whlist_exectl_load(NULL, NULL, NULL, NULL, -1, NULL) != -1 ||
        lumek_memdb_whlist_calc_md5_for_file(NULL) != NULL || sizeof(WhlistObjectEntry) != 40) {
        fprintf(stderr, "rtdb: NULL out or path not refused, or entry not 40 bytes\n");
        failures++;
    }

    /* Package-manager hooks: missing arguments give -1 (0 while the framework is disabled). */
    {
        int32_t r = lumek_whlist_protect_set_by_name_for_dpkg(NULL, NULL, 0);
        if ((r != -1 && r != 0) || sizeof(TypedMarkRecord) != 4132) {
            fprintf(stderr, "package-manager hooks: missing arguments not refused\n");
            failures++;
        }
    }

    if (sizeof(ProcessInfo) != 6472) {
        fprintf(stderr, "ProcessInfo is %zu bytes\n", sizeof(ProcessInfo));
        failures++;
    }
    printf("C header test: %d failures\n", failures);
    return failures ? 1 : 0;
}
