// The label and object-type vocabularies and the entry builder.
#include <vector>

#include <gtest/gtest.h>

#include "core/whlist_internal.h"
#include "lumekwhlist.h"

namespace {

TEST(WhlistObject, TextsMapToNumbers) {
    const std::pair<const char *, int> labels[] = {
        {"verified", 0}, {"original", 1}, {"vordsw", 2},   {"trusted", 3},   {"unknown", 4}, {"parent", 5},
        {"script", 6},   {"", 4},         {"Verified", 4}, {"verified ", 4}, {nullptr, 4},
    };
    for (const auto &[text, n] : labels)
        EXPECT_EQ(lumek_whlist_parse_exectl_type(text), n) << (text ? text : "NULL");
    const std::pair<const char *, int> types[] = {
        {"program", 0}, {"library", 1}, {"script", 2}, {"kmodule", 3},
        {"other", 4},   {"link", 4},    {nullptr, 4},
    };
    for (const auto &[text, n] : types) EXPECT_EQ(lumek::parse_obj_type(text), n) << (text ? text : "NULL");
}

TEST(WhlistObject, BuilderPrependsAndToleratesNulls) {
    EXPECT_EQ(create_object_list_entry(nullptr, "/a", "h", "program", "trusted", "readonly", 1, 2), -1);
    WhlistObject *head = nullptr;
    ASSERT_EQ(create_object_list_entry(&head, "/a", "h", "program", "trusted", "readonly", 1, 2), 0);
    ASSERT_EQ(create_object_list_entry(&head, nullptr, nullptr, nullptr, nullptr, nullptr, -1, -2), 0);
    EXPECT_EQ(std::vector<int>({head->path == nullptr, head->obj_type, head->writable, head->next->writable}),
              std::vector<int>({1, 4, 1, 0}));
    EXPECT_STREQ(head->next->path, "/a");
    lumek_whlist_objects_free(&head);
    EXPECT_EQ(head, nullptr);
    lumek_whlist_objects_free(&head);
    lumek_whlist_objects_free(nullptr);
    lumek_kmod_whlist_objects_free(nullptr);
}

}  // namespace
