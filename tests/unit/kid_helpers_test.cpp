// The kid family's helpers on their own: package names, user directories and the choice of
// a privacy kid against the stand-in's resource store.
#include <dlfcn.h>
#include <errno.h>
#include <regex.h>
#include <stdio.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/package_listing.h"
#include "kid/kid_internal.h"
#include "scratch.h"
#include "standin_control.h"
#include "standin_state.h"

namespace kid = lumek::kid;

namespace {
// regcomp failing as it does when memory runs out, as many times as a test asks.
int failing_regcomps = 0, regcomp_calls = 0;
}  // namespace

extern "C" int regcomp(regex_t *re, const char *pattern, int flags) {
    ++regcomp_calls;
    if (failing_regcomps > 0) {
        --failing_regcomps;
        return REG_ESPACE;
    }
    static auto real = reinterpret_cast<int (*)(regex_t *, const char *, int)>(dlsym(RTLD_NEXT, "regcomp"));
    return real(re, pattern, flags);
}

namespace {

TEST(KidHelpers, PackageNamesThatNeverReachTheTool) {
    std::vector<std::string> valid = {"bash", "libc6:amd64", "g++-12", "a.b~c+d", std::string(254, 'a')};
    std::vector<std::string> invalid = {"", "-L", "--admindir=x", "a b", "x;touch p", "$(id)", "a/b", "a\nb"};
    invalid.insert(invalid.end(), {std::string("a\0b", 3), std::string(255, 'a')});
    for (const auto &name : valid) EXPECT_TRUE(lumek::is_valid_package_name(name)) << name;
    for (const auto &name : invalid) EXPECT_FALSE(lumek::is_valid_package_name(name)) << name;
    lumek_test::ScratchDir scratch;
    EXPECT_FALSE(kid::get_file_list_of_pkg("x;touch p"));
    EXPECT_EQ(lumek_test::log_lines(), std::vector<std::string>{});  // not even the command line
}

TEST(KidHelpers, PatternCompiledAgainAfterAFailedCompile) {
    if (regcomp_calls > 0) GTEST_SKIP() << "pattern compiled by an earlier test of this process";
    lumek_test::ScratchDir scratch;
    failing_regcomps = 1;
    EXPECT_EQ(kid::is_user_res_dir("/root/new-dir"), -2);
    EXPECT_EQ(kid::is_user_res_dir("/root/new-dir"), 1);
    EXPECT_EQ(kid::is_user_res_dir("/root/other"), 1);
    EXPECT_EQ(regcomp_calls, 2);  // kept once compiled
}

TEST(KidHelpers, StatusReadErrorGivesNoList) {
    // One installed stanza, then an I/O error: no list, not a partial one.
    static const char kText[] = "Package: a\nStatus: install ok installed\n\n";
    cookie_io_functions_t io{};
    io.read = [](void *cookie, char *buf, size_t size) -> ssize_t {
        if (std::exchange(*static_cast<bool *>(cookie), true)) {
            errno = EIO;
            return -1;
        }
        size_t n = std::min(size, sizeof kText - 1);
        memcpy(buf, kText, n);
        return static_cast<ssize_t>(n);
    };
    bool read_once = false;
    FILE *f = fopencookie(&read_once, "r", io);
    ASSERT_TRUE(f);
    EXPECT_FALSE(kid::installed_packages_in(f));
    fclose(f);
}

TEST(KidHelpers, UserResourceDirectories) {
    lumek_test::ScratchDir scratch;
    EXPECT_EQ(kid::is_user_res_dir("/root/new-dir"), 1);
    for (const char *path :
         {"/home/nobody-here/new" /* no such home */, "/home/nobody-here", "/root/a/b", "/root/..",
          "/home/nobody-here/..", "/home/nobody-here/.", "/home/../etc", "/etc/x", "relative/x"})
        EXPECT_EQ(kid::is_user_res_dir(path), 0) << path;
    EXPECT_EQ(kid::is_user_res_dir(nullptr), -1);
    EXPECT_EQ(kid::get_user_res_kid(nullptr), -1);
    EXPECT_EQ(kid::get_user_res_kid("/etc/y"), 999);
}

TEST(KidHelpers, KidTextsFieldsAndHomeOwners) {
    const std::pair<const char *, long long> texts[] = {
        {"4294967295", 4294967295LL}, {"4294967296", -1}, {"18446744073709551616", -1}, {"12x", -1}};
    for (const auto &[text, want] : texts) {
        std::optional<uint32_t> kid = kid::parse_kid_text(text);
        EXPECT_EQ(kid ? static_cast<long long>(*kid) : -1, want) << text;
    }
    char field[4] = {'x', 'x', 'x', 'x'};
    kid::copy_field(field, sizeof field, "abcdef");
    EXPECT_EQ(std::string(field, 4), std::string("abc\0", 4));
    kid::copy_field(field, sizeof field, "abcdef", 2);
    EXPECT_EQ(std::string(field, 4), std::string("ab\0\0", 4));
    uint32_t uid = 77;
    EXPECT_EQ(kid::get_user_res_uid("/nowhere-home/x", &uid), -3);
    EXPECT_EQ(uid, 77u);
    EXPECT_EQ(kid::get_user_res_uid("/root/x", &uid), 0);
    EXPECT_EQ(uid, 0u);
}

TEST(KidHelpers, PrivacyKidChoice) {
    lumek_test::ScratchDir scratch;
    // Kids 1 to 998 all hold a directory of another home.
    std::vector<std::string> paths;
    for (int k = 1; k <= 998; ++k) paths.push_back("/home/u" + std::to_string(k) + "/d");
    for (int k = 1; k <= 998; ++k) {
        char *one[] = {paths[k - 1].data()};
        ASSERT_EQ(lumek_kid_add_kid_res_list(k, k == 5 ? 0 : 2, one, 1), 0);
    }
    const char *mine = "/home/alice/private";
    lumek_standin_set_flag("kid_uid_support", 0);
    EXPECT_EQ(kid::apply_kid_for_user_res(mine), 5);  // a file leaves its kid free
    char *dir5[] = {paths[4].data()};
    ASSERT_EQ(lumek_kid_add_kid_res_list(5, 2, dir5, 1), 0);
    EXPECT_EQ(kid::apply_kid_for_user_res(mine), 999);  // none free
    lumek_standin_set_flag("kid_uid_support", 1);
    EXPECT_EQ(kid::apply_kid_for_user_res(mine), 1);          // other users' kids may be shared
    EXPECT_EQ(kid::apply_kid_for_user_res("/home/u7/d"), 7);  // already registered
    EXPECT_EQ(lumek_standin_call_count("lumek_kid_privilege_is_support_uid"), 3);  // once per choice

    lumek_test::fault("lumek_kid_load_kid_res_list_by_kid_range", -1);
    EXPECT_EQ(kid::apply_kid_for_user_res(mine), -2);
    EXPECT_EQ(lumek_test::log_lines().back(), "2|0|apply_kid_for_user_res|466");
}

}  // namespace
