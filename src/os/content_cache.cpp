// os/content_cache.cpp: the content-addressed store of loaded files.
#include "os/content_cache.h"

#include <xxhash.h>

//- the process-wide cache

// Made once; a function-local static makes a late first use from two
// threads safe as well (tests and tools may skip the main thread's call).
static std::atomic<ContentCache *> g_content_cache;

static ContentCache *content_cache_build(void)
{
    ContentCache *cache = push_struct<ContentCache>(process_arena());
    // Every reader of a file goes through the cache: there is no going on
    // without it.
    if (!cache) process_exit_refused("the content cache", sizeof(ContentCache));
    // An entry is a few dozen bytes (the bytes live in arenas of their own):
    // 100,000 files fill some 40 KiB per stripe, and more chains blocks.
    if (!striped_table_init(process_arena(), &cache->table, content_bucket_count, content_stripe_count,
                            StripeLock_Section, KiB(64), KiB(4)))
        process_exit_refused("the content cache", content_stripe_count * KiB(64));
    g_content_cache.store(cache, std::memory_order_release);
    return cache;
}

ContentCache *content_cache_create(void)
{
    static ContentCache *cache = content_cache_build();
    return cache;
}

ContentCache *content_cache(void) { return g_content_cache.load(std::memory_order_acquire); }

//- keys and lookups

ContentKey content_key_of(Str bytes)
{
    // Keys never leave the process, so any 128-bit hash with a negligible
    // collision rate will do; XXH3 is the fastest at hand.
    XXH128_hash_t h = XXH3_128bits(bytes.str, bytes.size);
    ContentKey key = {{h.low64, h.high64}};
    return key;
}

static ContentBucket *bucket_of(ContentCache *cache, ContentKey key, TableStripe **out_stripe)
{
    u64 index = striped_bucket_of(&cache->table, key.half[1]);
    *out_stripe = striped_stripe_of(&cache->table, index);
    return &cache->buckets[index];
}

// The caller holds the stripe's critical section.
static ContentEntry *bucket_find(ContentBucket *bucket, ContentKey key)
{
    for (ContentEntry *e = bucket->first; e; e = e->next)
        if (content_key_eq(e->key, key)) return e;
    return nullptr;
}

static u64 stripe_index_of(ContentCache *cache, ContentKey key)
{
    return striped_bucket_of(&cache->table, key.half[1]) % cache->table.stripe_count;
}

// The caller holds the stripe's critical section. False: memory was
// refused and nothing was filed.
static bool bucket_append(ContentCache *cache, TableStripe *stripe, ContentBucket *bucket, ContentKey key, Str value,
                          Arena *owner, ContentPack *pack = nullptr)
{
    ContentEntry **free_list = &cache->free_entries[stripe_index_of(cache, key)];
    ContentEntry *entry = *free_list;
    if (entry) {
        *free_list = entry->next;
        *entry = ContentEntry{};
    } else {
        entry = push_struct<ContentEntry>(stripe->arena);
    }
    if (!entry) return false;
    entry->key = key;
    entry->value = value;
    entry->holds = 1;
    entry->arena = owner;
    entry->pack = pack;
    entry->prev = bucket->last;
    if (bucket->last) bucket->last->next = entry;
    else bucket->first = entry;
    bucket->last = entry;
    return true;
}

//- put, insert, get

ContentPack *content_pack_alloc(u64 capacity)
{
    Arena *arena = arena_alloc(capacity + KiB(4), KiB(64));
    ContentPack *pack = arena ? push_struct<ContentPack>(arena) : nullptr;
    if (!pack) {
        arena_release(arena);
        return nullptr;
    }
    pack->arena = arena;
    pack->refs = 1;
    return pack;
}

void content_pack_release(ContentPack *pack)
{
    if (pack && atomic_add_u64(&pack->refs, (u64)-1) == 0) arena_release(pack->arena);
}

// A pack's pages are shared with its neighbours, so only large bytes alone
// on their arena are made read-only, and made writable again before that
// arena is released (the block pool writes its link into the block).
static bool bytes_protected(Str bytes, Arena *bytes_arena)
{
    return bytes_arena && bytes.size >= content_protect_min_size;
}

// Files bytes that live either on an arena of their own (released here when
// an identical copy is cached already) or in a pack (held once more for each
// entry that points into it).
static ContentKey content_file(Str bytes, Arena *bytes_arena, ContentPack *pack)
{
    ContentCache *cache = content_cache_create();
    ContentKey key = content_key_of(bytes);
    TableStripe *stripe = nullptr;
    ContentBucket *bucket = bucket_of(cache, key, &stripe);
    cs_enter(stripe->section);
    if (ContentEntry *cached = bucket_find(bucket, key)) {
        cached->holds += 1;
        cs_leave(stripe->section);
        // The cached copy is identical: keep one.
        arena_release(bytes_arena);
        return key;
    }
    if (bytes_protected(bytes, bytes_arena)) memory_protect_read_only((void *)bytes.str, bytes.size);
    if (pack) atomic_add_u64(&pack->refs, 1);
    bool filed = bucket_append(cache, stripe, bucket, key, bytes, bytes_arena, pack);
    cs_leave(stripe->section);
    // Refused memory: the content is simply not cached, and its readers see
    // empty bytes, as for an unreadable file.
    if (!filed) {
        if (bytes_protected(bytes, bytes_arena)) memory_protect_read_write((void *)bytes.str, bytes.size);
        arena_release(bytes_arena);
        content_pack_release(pack);
    }
    cv_broadcast(stripe->condition);
    return key;
}

ContentKey content_put(Str bytes, Arena *bytes_arena) { return content_file(bytes, bytes_arena, nullptr); }

ContentKey content_put_packed(Str bytes, ContentPack *pack) { return content_file(bytes, nullptr, pack); }

Str content_hold(ContentKey key)
{
    ContentCache *cache = content_cache();
    if (!cache || content_key_is_zero(key)) return str_empty();
    TableStripe *stripe = nullptr;
    ContentBucket *bucket = bucket_of(cache, key, &stripe);
    cs_enter(stripe->section);
    ContentEntry *entry = bucket_find(bucket, key);
    Str value = str_empty();
    if (entry) {
        entry->holds += 1;
        value = entry->value;
    }
    cs_leave(stripe->section);
    return value;
}

void content_drop(ContentKey key)
{
    ContentCache *cache = content_cache();
    if (!cache || content_key_is_zero(key)) return;
    TableStripe *stripe = nullptr;
    ContentBucket *bucket = bucket_of(cache, key, &stripe);
    Arena *release = nullptr;
    ContentPack *release_pack = nullptr;
    Str released_bytes = {};
    cs_enter(stripe->section);
    ContentEntry *entry = bucket_find(bucket, key);
    if (entry && (entry->arena || entry->pack) && entry->holds > 0) {
        entry->holds -= 1;
        if (entry->holds == 0) {
            if (entry->prev) entry->prev->next = entry->next;
            else bucket->first = entry->next;
            if (entry->next) entry->next->prev = entry->prev;
            else bucket->last = entry->prev;
            release = entry->arena;
            release_pack = entry->pack;
            released_bytes = entry->value;
            ContentEntry **free_list = &cache->free_entries[stripe_index_of(cache, key)];
            entry->next = *free_list;
            entry->prev = nullptr;
            *free_list = entry;
        }
    }
    cs_leave(stripe->section);
    if (release || release_pack) {
        // Unmapped or given back to the block pool outside the lock: a large
        // content's pages take a while to return.
        if (bytes_protected(released_bytes, release))
            memory_protect_read_write((void *)released_bytes.str, released_bytes.size);
        arena_release(release);
        content_pack_release(release_pack);
        atomic_add_u64(&cache->released, 1);
    }
}

void content_insert(ContentKey key, Str value)
{
    ContentCache *cache = content_cache_create();
    TableStripe *stripe = nullptr;
    ContentBucket *bucket = bucket_of(cache, key, &stripe);
    cs_enter(stripe->section);
    if (!bucket_find(bucket, key)) bucket_append(cache, stripe, bucket, key, value, nullptr);
    cs_leave(stripe->section);
    cv_broadcast(stripe->condition);
}

Str content_get(ContentKey key)
{
    ContentCache *cache = content_cache();
    if (!cache || content_key_is_zero(key)) return str_empty();
    TableStripe *stripe = nullptr;
    ContentBucket *bucket = bucket_of(cache, key, &stripe);
    cs_enter(stripe->section);
    ContentEntry *entry = bucket_find(bucket, key);
    Str value = entry ? entry->value : str_empty();
    cs_leave(stripe->section);
    return value;
}

u64 content_entry_count(void)
{
    ContentCache *cache = content_cache();
    if (!cache) return 0;
    u64 count = 0;
    for (u64 b = 0; b < content_bucket_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&cache->table, b);
        cs_enter(stripe->section);
        for (ContentEntry *e = cache->buckets[b].first; e; e = e->next) count += 1;
        cs_leave(stripe->section);
    }
    return count;
}

u64 content_released_count(void)
{
    ContentCache *cache = content_cache();
    return cache ? atomic_load_u64(&cache->released) : 0;
}
