// The framework's error record is read bounded by its fields, and a missing record reads as
// empty; the record comes from the stand-in through its fault injection.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "core/error_record.h"
#include "core/framework.h"
#include "standin_control.h"
#include "scratch.h"

namespace {

TEST(ErrorRecord, ObjectTextFillingAll256BytesIsReadWithoutOverrunAndNoRecordReadsEmpty) {
    lumek_test::ScratchDir scratch;
    LumekStandinFault f{1, -1, 0, 1, -1006, "", "label refused"};
    memset(f.object, 'o', sizeof f.object);  // no terminator anywhere
    ASSERT_EQ(lumek_standin_fault_set("lumek_exectl_set", &f), 0);

    ASSERT_NE(lumek_exectl_set("/usr/bin/true", "verified"), 0);
    lumek::FrameworkError e = lumek::read_framework_error();
    EXPECT_EQ(e.code, -1006);
    EXPECT_EQ(e.object, std::string(256, 'o'));
    EXPECT_EQ(e.message, "label refused");

    f = LumekStandinFault{-1, 0, 0, 0, 0, "", ""};
    ASSERT_EQ(lumek_standin_fault_set("lumek_get_error", &f), 0);
    ASSERT_EQ(lumek_get_error(), nullptr);
    e = lumek::read_framework_error();
    EXPECT_EQ(std::make_tuple(e.code, e.object, e.message), std::make_tuple(0, "", ""));
}

}  // namespace
