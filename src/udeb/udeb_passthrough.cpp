// The fourteen udeb wrappers. They check no argument, log nothing and hand back the
// framework's result untouched.
#include "udeb/udeb_internal.h"

namespace lumek::udeb {

void *gated_read_all(ReadAllOp op, void *first, int *count) {
    if (!count) return nullptr;
    *count = 0;
    if (lumek_getstatus() == 0) return nullptr;
    return op(first, count);
}

}  // namespace lumek::udeb

using lumek::udeb::gated;
using lumek::udeb::gated_read_all;

extern "C" {

LUMEKWHLIST_PUBLIC int lumek_udeblist_create(void) {
    return gated(vorda_udeblist_create);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_add(void *first, void *second) {
    return gated(vorda_udeblist_add, first, second);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_del(void *first, void *second) {
    return gated(vorda_udeblist_del, first, second);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_clear(void) {
    return gated(vorda_udeblist_clear);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_get_root_distinguish(void) {
    return gated(vorda_udeblist_get_root_distinguish);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_set_root_distinguish(int value) {
    return gated(vorda_udeblist_set_root_distinguish, value);
}
LUMEKWHLIST_PUBLIC void *lumek_udeblist_read_all_node_with_uid(void *first, int *count) {
    return gated_read_all(vorda_udeblist_read_all_node_with_uid, first, count);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_create_sm(void) {
    return gated(vorda_udeblist_create_sm);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_add_sm(void *first, void *second) {
    return gated(vorda_udeblist_add_sm, first, second);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_del_sm(void *first, void *second) {
    return gated(vorda_udeblist_del_sm, first, second);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_clear_sm(void) {
    return gated(vorda_udeblist_clear_sm);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_get_root_distinguish_sm(void) {
    return gated(vorda_udeblist_get_root_distinguish_sm);
}
LUMEKWHLIST_PUBLIC int lumek_udeblist_set_root_distinguish_sm(int value) {
    return gated(vorda_udeblist_set_root_distinguish_sm, value);
}
LUMEKWHLIST_PUBLIC void *lumek_udeblist_read_all_node_with_uid_sm(void *first, int *count) {
    return gated_read_all(vorda_udeblist_read_all_node_with_uid_sm, first, count);
}

}  // extern "C"
