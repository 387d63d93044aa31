// os/content_cache.h: the process-wide, content-addressed store of loaded
// files.
//
// A file's bytes are filed under the 128-bit XXH3 hash of the bytes, so two
// files with identical bytes share one entry and a changed file gets a new
// key while readers of the old key keep valid bytes: an entry's bytes never
// change. The bytes a streamer loads live in an arena of their own, and the
// entry counts its holds: the file service holds the current content of
// each file, and a reader that keeps the bytes beyond one lookup holds them
// too. When the last hold is dropped the entry goes and its arena is
// released, so an author saving a large document all day does not grow the
// process by a copy per save. Bytes filed with content_insert are never
// released. Readers share the bytes without copies.
//
// The cache is created once by the main thread before other threads start;
// after that any thread may put and get. Each of its 128 stripes has a
// critical section that guards every 128th bucket.
#pragma once
#include "os/work_queue.h"

struct ContentKey {
    u64 half[2];   // half[1] picks the bucket
};

inline bool content_key_eq(ContentKey a, ContentKey b) { return a.half[0] == b.half[0] && a.half[1] == b.half[1]; }
inline bool content_key_is_zero(ContentKey k) { return (k.half[0] | k.half[1]) == 0; }

// Small contents share a pack: one arena that a streamer fills with load
// after load, released when the last content in it goes and its filler has
// moved on to a new pack. On an arena of its own a 4 KB document took two
// whole pages: a site of such documents held two thirds more than its
// bytes.
struct ContentPack {
    Arena *arena;   // the pack itself lives at its start
    u64 refs;       // atomic: the contents filed in it, and its filler
    u64 used;       // bytes handed out; the filler's
};

struct ContentEntry {
    ContentEntry *next;
    ContentEntry *prev;
    ContentKey key;
    Str value;
    u64 holds;           // guarded by the stripe's critical section
    Arena *arena;        // owns the bytes alone; null with no pack: kept for ever
    ContentPack *pack;   // or: the bytes lie in this pack
};

struct ContentBucket {
    ContentEntry *first;
    ContentEntry *last;
};

// As many buckets as the file table: one entry per file's content.
constexpr u64 content_bucket_count = 65536;
constexpr u64 content_stripe_count = 128;

struct ContentCache {
    StripedTable table;                        // critical section per stripe
    ContentBucket buckets[content_bucket_count];
    ContentEntry *free_entries[content_stripe_count];   // per stripe, guarded by its section
    u64 released;                              // atomic: entries whose last hold was dropped
};

// Contents at least this large sit in a mapping of their own and are made
// read-only, so a stray write into shared bytes faults at once. Smaller ones
// share the arena slabs with other arenas, and protecting a piece of a slab
// splits its mapping: 100,000 small files would pass the kernel's limit on
// mappings per process.
constexpr u64 content_protect_min_size = MiB(4);

ContentCache *content_cache_create(void);   // main thread, once; later calls return the same cache
ContentCache *content_cache(void);          // null before creation

ContentKey content_key_of(Str bytes);
// Files freshly loaded bytes and holds them once for the caller.
// `bytes_arena` holds only these bytes (or is null for empty bytes): it is
// kept while the entry is held and released at once when the key is
// already cached.
ContentKey content_put(Str bytes, Arena *bytes_arena);
// A new pack, held once by its filler; null when memory is refused.
ContentPack *content_pack_alloc(u64 capacity);
// Gives back one hold of a pack: the last one releases its arena.
void content_pack_release(ContentPack *pack);
// content_put for bytes on `pack`'s arena: a content filed holds the pack;
// bytes already cached stay in the pack unused until it goes.
ContentKey content_put_packed(Str bytes, ContentPack *pack);
// One more hold on a cached key: its bytes, valid until the matching
// content_drop, or an empty Str (and no hold) for a key not cached.
Str content_hold(ContentKey key);
// Gives back one hold; the last one releases the entry and its bytes.
void content_drop(ContentKey key);
// Files `value` under `key` when the key is absent; the value must live for
// ever. An existing entry is left as it is.
void content_insert(ContentKey key, Str value);
// The bytes of a key, or an empty Str (a key never stored, or the zero key).
// Valid only while some hold keeps the key: a reader that may race with a
// reload uses content_hold (or the file service's fs_read) instead.
Str content_get(ContentKey key);
u64 content_entry_count(void);   // a snapshot, for tests and tools
u64 content_released_count(void);   // entries released so far, for tests and tools
