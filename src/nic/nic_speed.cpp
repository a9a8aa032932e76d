// Placeholder until speed limiting lands.
#include "lumekwhlist.h"

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedctl(const char *nic, int32_t netmode, int64_t speed) {
    (void)nic; (void)netmode; (void)speed;
    return -1;
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedclr(const char *nic, int32_t netmode) {
    (void)nic; (void)netmode;
    return -1;
}
