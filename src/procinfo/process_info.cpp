// Placeholder until the snapshot lands.
#include "lumekwhlist.h"

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_get_process_info(ProcessInfo *infos, uint32_t *count) {
    (void)infos;
    if (count) *count = 0;
    return -1;
}
