// The rtdb record codec and the MD5 routine: what goes into a label record comes back, a
// record of another shape changes nothing, a read error gives no hash.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "rtdb/rtdb_internal.h"
#include "scratch.h"

namespace {

WhlistObjectEntry entry(const char *path, int32_t type, int32_t label) {
    return WhlistObjectEntry{const_cast<char *>(path), const_cast<char *>("ABC"), type, label, 1, 5, 42};
}

class Codec : public ::testing::Test {
  protected:
    void TearDown() override { lumek_whlist_objects_free(&list_); }
    lumek_test::ScratchDir scratch_;
    WhlistObject *list_ = nullptr;
};

TEST_F(Codec, RoundTripDropsWritableAndExtra1AndListsInReverse) {
    const char *paths[] = {"/first", "/second", "/third"};
    for (int i = 0; i < 3; ++i) {
        MemdbRecord r;
        ASSERT_EQ(fill_memdb_record_from_object(&r, entry(paths[i], i + 3, i + 2)), 0);
        EXPECT_EQ(parse_memdb_record_to_object_list(&r, &list_), 0);
        free_memdb_record_values(&r);
    }
    std::string order;
    for (WhlistObject *o = list_; o; o = o->next) order += o->path;
    EXPECT_EQ(order, "/third/second/first");
    const WhlistObject &o = *list_;  // from entry("/third", 5, 4)
    EXPECT_STREQ(o.hash, "ABC");
    EXPECT_EQ(std::vector<int>({o.obj_type, o.exectl_type, o.writable, o.extra1, o.extra2}),
              std::vector<int>({5, 4, 0, 0, 42}));
}

TEST_F(Codec, RecordsOfAnotherShapeAreRefusedAndChangeNothing) {
    MemdbRecord label;
    ASSERT_EQ(fill_memdb_record_from_object(&label, entry("/x", 0, 3)), 0);
    int32_t kind = 9999, time = 77, stranger = 1;
    lumek::rtdb::Selector sync;
    sync.add(0, &kind);
    sync.add(1, &time);
    MemdbRecord int_path = label, null_label = label, int_sync = sync.get();
    int_path.columns[1] = {LUMEK_MEMDB_TYPE_INT32, 0, &stranger};
    null_label.columns[2].value = nullptr;
    int_sync.columns[1] = {LUMEK_MEMDB_TYPE_STRING, 0, const_cast<char *>("77")};
    for (const MemdbRecord &r : {sync.get(), int_path, null_label})
        EXPECT_EQ(parse_memdb_record_to_object_list(&r, &list_), -2);
    EXPECT_EQ(list_, nullptr);
    int32_t out = -5;
    for (const MemdbRecord &r : {label, int_sync}) EXPECT_EQ(parse_memdb_record_to_sync_time(&r, &out), -2);
    EXPECT_EQ(out, -5);
    EXPECT_EQ(parse_memdb_record_to_sync_time(&sync.get(), &out), 0);
    EXPECT_EQ(out, 77);
    EXPECT_EQ(parse_memdb_record_to_object_list(nullptr, &list_), -1);
    free_memdb_record_values(&label);
}

// A full memo asks the framework for a new name and keeps what it holds intact.
TEST_F(Codec, TypeMemoBeyondItsSlots) {
    lumek::rtdb::TypeMemo memo;
    const int32_t u = trans_type_str_2_type("n1"), k = trans_type_str_2_type("kmodule");
    std::vector<int32_t> got;
    for (const char *n : {"n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8", "kmodule", "n1", "kmodule"})
        got.push_back(memo.type_of(n));
    EXPECT_EQ(got, (std::vector<int32_t>{u, u, u, u, u, u, u, u, k, u, k}));
}

TEST_F(Codec, BuilderRefusesWhatItCannotName) {
    WhlistObjectEntry no_hash = entry("/x", 0, 0);
    no_hash.hash = nullptr;
    for (const WhlistObjectEntry &e : {entry(nullptr, 0, 0), entry("/x", 6, 0), entry("/x", -1, 0),
                                       entry("/x", 0, 7), entry("/x", 0, -1), no_hash}) {
        MemdbRecord r;
        errno = 0;
        EXPECT_EQ(fill_memdb_record_from_object(&r, e), -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(r.count, 0);
    }
}

TEST_F(Codec, Md5OfContentsOrNothing) {
    std::string dir = scratch_.path();
    std::ofstream(dir + "/empty").close();
    std::ofstream(dir + "/k1") << std::string(1024, 'a');
    std::ofstream(dir + "/big") << std::string(200000, 'a');  // more than three read blocks
    mkfifo((dir + "/fifo").c_str(), 0600);
    const std::pair<std::string, const char *> cases[] = {
        // NULL: no hash
        {dir + "/empty", "D41D8CD98F00B204E9800998ECF8427E"},
        {dir + "/k1", "C9A34CFC85D982698C6AC89F76071ABD"},
        {dir + "/big", "561B1994F6BAACD6E5EAF4BAAA12849F"},
        {dir, nullptr},
        {dir + "/missing", nullptr},
        {"/proc/self/mem", nullptr},  // a regular file whose read fails
    };
    for (const auto &[path, want] : cases) {
        char *h = lumek_memdb_whlist_calc_md5_for_file(path.c_str());
        EXPECT_STREQ(h, want) << path;
        free(h);
    }
    // Past the regular-file test, a FIFO is refused on the descriptor instead of blocking.
    EXPECT_EQ(calc_md5_hex_of_file((dir + "/fifo").c_str()), nullptr);
}

}  // namespace
