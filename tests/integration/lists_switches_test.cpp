// The list switches against the stand-in: what reaches the framework, in which order,
// what is logged and what the caller gets.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "scratch.h"
#include "standin_state.h"

namespace {

using lumek_test::fault;
using lumek_test::framework_calls;
using lumek_test::log_lines;
using Calls = std::vector<std::string>;

struct Case {
    const char *name;
    std::function<void()> setup;
    std::function<int()> call;
    int result;
    Calls calls;      // every framework call, in order
    std::string log;  // the one log line, or "" for none
};

TEST(ListSwitches, CallsResultsAndLogLines) {
    const Case cases[] = {
        {"netctl 2 is stored as 3",
         [] {},
         [] { return vorda_netctl_status_set(2); },
         0,
         {"lumek_getstatus()", "lumek_set_func_status(1, 3)", "lumek_conf_add()",
          "lumek_conf_set(\"lumek_netctl\", 3)"},
         ""},
        {"netctl 3 is refused untouched",
         [] {},
         [] { return vorda_netctl_status_set(3); },
         -1,
         {},
         "16|0|vorda_netctl_status_set|invalid netctl status[3]\\n"},
        {"negative is out of range",
         [] {},
         [] { return vorda_netctl_status_set(-1); },
         -1,
         {},
         "16|0|vorda_netctl_status_set|invalid netctl status[-1]\\n"},
        {"ppro 2 is refused",
         [] {},
         [] { return vorda_ppro_status_set(2); },
         -1,
         {},
         "2|0|vorda_ppro_status_set|invalid ppro status[2]\\n"},
        {"pblk 2 is refused",
         [] {},
         [] { return vorda_pblk_status_set(2); },
         -1,
         {},
         "2|0|vorda_pblk_status_set|invalid pblk status[2]\\n"},
        {"disabled framework",
         [] { lumek_standin_set_flag("status", 0); },
         [] { return vorda_pblk_status_set(1); },
         -2,
         {"lumek_getstatus()"},
         "16|0|vorda_pblk_status_set|lumek is disabled\\n"},
        {"getter reads while disabled",
         [] { lumek_standin_set_flag("status", 0); },
         [] { return vorda_ppro_status_get(); },
         0,
         {"lumek_get_func_status(5)"},
         ""},
        {"netctl warning state",
         [] { fault("lumek_get_func_status", 2); },
         [] { return vorda_netctl_status_get(); },
         -2,
         {"lumek_get_func_status(1)"},
         "16|0|vorda_netctl_status_get|get netctl status[warning]\\n"},
        {"getter failure",
         [] { fault("lumek_get_func_status", -5); },
         [] { return vorda_pblk_status_get(); },
         -1,
         {"lumek_get_func_status(11)"},
         "2|0|vorda_pblk_status_get|get pblk status failed, ret =-5\\n"},
        {"netctl's stored 3 reads as 2",
         [] { fault("lumek_get_func_status", 3); },
         [] { return vorda_netctl_status_get(); },
         2,
         {"lumek_get_func_status(1)"},
         ""},
        {"ppro getter passes values above 1",
         [] { fault("lumek_get_func_status", 4); },
         [] { return vorda_ppro_status_get(); },
         4,
         {"lumek_get_func_status(5)"},
         ""},
    };
    lumek_test::ScratchDir scratch;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(lumek_standin_reset(), 0);
        c.setup();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(framework_calls(), c.calls);
        EXPECT_EQ(log_lines(), c.log.empty() ? Calls{} : Calls{c.log});
    }
}

}  // namespace
