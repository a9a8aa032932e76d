// Private to the stand-in's memdb: the handle, and the store helpers that the framework
// calls and the control calls share.
#pragma once

#include <stdint.h>

#include "standin_internal.h"

// A connection to one database; it holds only the key, the rows live in the store.
struct MemdbHandle {
    uint32_t magic;  // cleared on disconnect, so a stale handle is refused
    int key;
};

namespace standin {

// True when database @key exists.
bool memdb_exists(Store &s, int key);
// Stores one record of @count values (types 3 or 5, values not NULL); the store copies them.
bool memdb_insert(Store &s, int key, int32_t count, const int32_t *types, const void *const *values);
// Removes every database and record.
bool memdb_reset(Store &s);

// "n, c0, ..., c15": the record count and values, in this order, as SELECTs read them.
extern const char kMemdbColumns[];

}  // namespace standin
