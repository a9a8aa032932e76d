// The udeb wrappers against the stand-in: the gate, and the framework's results passed
// back untouched.
#include <stdint.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "scratch.h"
#include "standin_state.h"

using lumek_test::fault;
using lumek_test::framework_calls;
using Lines = std::vector<std::string>;

namespace {

void *v(intptr_t n) {
    return reinterpret_cast<void *>(n);
}

struct Op {
    const char *framework;
    std::function<int()> call;
    const char *args = "()";  // as the framework got them: the pair in its order
};

const Op kOps[] = {
    {"vorda_udeblist_create", [] { return lumek_udeblist_create(); }},
    {"vorda_udeblist_add", [] { return lumek_udeblist_add(v(1000), v(7)); }, "(0x3e8, 0x7)"},
    {"vorda_udeblist_del", [] { return lumek_udeblist_del(v(1000), v(7)); }, "(0x3e8, 0x7)"},
    {"vorda_udeblist_clear", [] { return lumek_udeblist_clear(); }},
    {"vorda_udeblist_get_root_distinguish", [] { return lumek_udeblist_get_root_distinguish(); }},
    {"vorda_udeblist_set_root_distinguish", [] { return lumek_udeblist_set_root_distinguish(1); }, "(1)"},
    {"vorda_udeblist_create_sm", [] { return lumek_udeblist_create_sm(); }},
    {"vorda_udeblist_add_sm", [] { return lumek_udeblist_add_sm(v(1000), v(7)); }, "(0x3e8, 0x7)"},
    {"vorda_udeblist_del_sm", [] { return lumek_udeblist_del_sm(v(1000), v(7)); }, "(0x3e8, 0x7)"},
    {"vorda_udeblist_clear_sm", [] { return lumek_udeblist_clear_sm(); }},
    {"vorda_udeblist_get_root_distinguish_sm", [] { return lumek_udeblist_get_root_distinguish_sm(); }},
    {"vorda_udeblist_set_root_distinguish_sm", [] { return lumek_udeblist_set_root_distinguish_sm(1); },
     "(1)"},
};

using ReadAll = void *(*)(void *, int *);
const ReadAll kReadAlls[] = {lumek_udeblist_read_all_node_with_uid, lumek_udeblist_read_all_node_with_uid_sm};

TEST(Udeb, DisabledFrameworkIsNeverTouched) {
    lumek_test::ScratchDir scratch;
    for (ReadAll read_all : kReadAlls) EXPECT_EQ(read_all(v(1000), nullptr), nullptr);  // not even the gate
    lumek_standin_set_flag("status", 0);
    for (const Op &op : kOps) {
        SCOPED_TRACE(op.framework);
        EXPECT_EQ(op.call(), -1);
    }
    for (ReadAll read_all : kReadAlls) {
        int count = 5;
        EXPECT_EQ(read_all(v(1000), &count), nullptr);
        EXPECT_EQ(count, 0);
    }
    Lines gate_only(14, "lumek_getstatus()");
    EXPECT_EQ(framework_calls(), gate_only);
    EXPECT_EQ(lumek_test::log_lines(), Lines{});
}

TEST(Udeb, AnyNonZeroStatusLetsResultsThroughUnchanged) {
    lumek_test::ScratchDir scratch;
    lumek_standin_set_flag("status", -3);
    for (const Op &op : kOps) {
        SCOPED_TRACE(op.framework);
        ASSERT_EQ(fault(op.framework, 4242), 0);
        EXPECT_EQ(op.call(), 4242);
        EXPECT_EQ(framework_calls(op.framework), Lines{op.framework + std::string(op.args)});
    }
    // The framework's own list answers through the wrappers.
    ASSERT_EQ(lumek_udeblist_add(v(1000), v(7)), 0);
    ASSERT_EQ(lumek_udeblist_add(v(1000), v(9)), 0);
    EXPECT_EQ(lumek_udeblist_add(v(1000), v(9)), -1);
    ASSERT_EQ(lumek_udeblist_set_root_distinguish_sm(5), 0);
    EXPECT_EQ(lumek_udeblist_get_root_distinguish_sm(), 5);
    EXPECT_EQ(lumek_udeblist_get_root_distinguish(), 0);
    int count = 0;
    auto *values = static_cast<intptr_t *>(lumek_udeblist_read_all_node_with_uid(v(1000), &count));
    ASSERT_EQ(count, 2);
    EXPECT_EQ(values[0], 7);
    EXPECT_EQ(values[1], 9);
    free(values);
    EXPECT_EQ(lumek_udeblist_read_all_node_with_uid_sm(v(1000), &count), nullptr);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(fault("vorda_udeblist_read_all_node_with_uid", -6), 0);
    EXPECT_EQ(lumek_udeblist_read_all_node_with_uid(v(1000), &count), nullptr);
    EXPECT_EQ(count, -6);  // what the framework left in it
    ASSERT_EQ(lumek_standin_count_set("vorda_udeblist_read_all_node_with_uid_sm", -4), 0);
    values = static_cast<intptr_t *>(lumek_udeblist_read_all_node_with_uid_sm(v(1000), &count));
    EXPECT_NE(values, nullptr);  // an array with a negative count goes back as it came
    EXPECT_EQ(count, -4);
    free(values);
}

}  // namespace
