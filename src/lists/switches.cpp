// The on/off switches of the three lists: the framework's runtime feature status first,
// then the permanent configuration entry. One table row per list.
#include <stdint.h>

#include "lists/lists_internal.h"

namespace lumek::lists {

namespace {

constexpr int kSetFailed = -3;
constexpr int kGetFailed = -1;
constexpr int kNetctlWarning = -2;
// netctl: the caller's 2 is the framework's 3; the framework's own 2 is a warning state.
constexpr int kNetctlCallerTwo = 2, kNetctlStoredTwo = 3, kNetctlWarningState = 2;

struct Switch {
    const char *set_name;
    const char *get_name;
    int feature;
    const char *conf_key;
    uint32_t max_status;
    int level;
    bool netctl;
    const char *fmt_invalid;
    const char *fmt_set_failed;
    const char *fmt_permanent_failed;
    const char *fmt_get_failed;
};

constexpr Switch kNetctl = {"vorda_netctl_status_set",
                            "vorda_netctl_status_get",
                            1,
                            "lumek_netctl",
                            2,
                            kLogNetctl,
                            true,
                            "invalid netctl status[%d]\n",
                            "set netctl status[%d] failed, ret =%d\n",
                            "set netctl status[%d] permanent failed, ret =%d\n",
                            "get netctl status failed, ret =%d\n"};
constexpr Switch kPpro = {"vorda_ppro_status_set",
                          "vorda_ppro_status_get",
                          5,
                          "lumek_ppro",
                          1,
                          kLogList,
                          false,
                          "invalid ppro status[%d]\n",
                          "set ppro status[%d] failed, ret =%d\n",
                          "set ppro status[%d] permanent failed, ret =%d\n",
                          "get ppro status failed, ret =%d\n"};
constexpr Switch kPblk = {"vorda_pblk_status_set",
                          "vorda_pblk_status_get",
                          11,
                          "lumek_pblk",
                          1,
                          kLogList,
                          false,
                          "invalid pblk status[%d]\n",
                          "set pblk status[%d] failed, ret =%d\n",
                          "set pblk status[%d] permanent failed, ret =%d\n",
                          "get pblk status failed, ret =%d\n"};
constexpr const char kMsgNetctlWarning[] = "get netctl status[warning]\n";

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// The formats come from the table above: one literal per message.

int set_switch(const Switch &s, int status) {
    // Taken as unsigned, every negative status is out of range too.
    if (static_cast<uint32_t>(status) > s.max_status) {
        lumek_log(s.level, 0, s.set_name, s.fmt_invalid, status);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogDisabled, 0, s.set_name, kMsgDisabled);
        return kDisabled;
    }
    int value = s.netctl && status == kNetctlCallerTwo ? kNetctlStoredTwo : status;
    int ret = lumek_set_func_status(s.feature, value);
    if (ret != 0) {
        lumek_log(s.level, 0, s.set_name, s.fmt_set_failed, value, ret);
        return kSetFailed;
    }
    lumek_conf_add();  // its result says nothing the next call would not
    ret = lumek_conf_set(s.conf_key, value);
    if (ret != 0) {
        lumek_log(s.level, 0, s.set_name, s.fmt_permanent_failed, value, ret);
        return kNotPermanent;
    }
    return kOk;
}

int get_switch(const Switch &s) {
    int ret = lumek_get_func_status(s.feature);
    if (ret < 0) {
        lumek_log(s.level, 0, s.get_name, s.fmt_get_failed, ret);
        return kGetFailed;
    }
    if (s.netctl && ret == kNetctlStoredTwo) return kNetctlCallerTwo;
    if (s.netctl && ret == kNetctlWarningState) {
        lumek_log(s.level, 0, s.get_name, kMsgNetctlWarning);
        return kNetctlWarning;
    }
    return ret;
}

#pragma GCC diagnostic pop

}  // namespace

}  // namespace lumek::lists

using namespace lumek::lists;

extern "C" LUMEKWHLIST_PUBLIC int vorda_netctl_status_set(int status) {
    return guarded(kInvalid, [&] { return set_switch(kNetctl, status); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_netctl_status_get(void) {
    return guarded(kGetFailed, [&] { return get_switch(kNetctl); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_ppro_status_set(int status) {
    return guarded(kInvalid, [&] { return set_switch(kPpro, status); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_ppro_status_get(void) {
    return guarded(kGetFailed, [&] { return get_switch(kPpro); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_pblk_status_set(int status) {
    return guarded(kInvalid, [&] { return set_switch(kPblk, status); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_pblk_status_get(void) {
    return guarded(kGetFailed, [&] { return get_switch(kPblk); });
}
