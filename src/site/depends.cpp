// site/depends.cpp: reads noted while building, and following changes to
// the documents that read them.
#include "site/depends.h"

#include "http/url_check.h"

#include <algorithm>

//- values
//
// A value is a hash of what a build used of an answer: two answers with
// the same value give the same pages.

static u64 mix(u64 h, u64 v)
{
    h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
    return h * 0xff51afd7ed558ccdull;
}

// What a link to `path` uses: whether the document is known and published,
// the page its links lead to, and the anchor asked for. The index is made
// after every other document, so a link to it before it exists leads to
// the home page as one after does: both give the same value.
static u64 document_value(Str local, Str path, const LinkTarget *target, u32 anchor)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    u32 state = target->state;
    bool index_before = state != LinkTarget_Published && is_index_document(local, path);
    u64 h = mix(17, index_before ? (u64)LinkTarget_Published : state);
    if (state == LinkTarget_Published || index_before) {
        const DocumentSummary *s = target->summary;
        bool published = index_before || s->published;
        Str page = index_before ? str_pushf(scratch.arena, "%Shtml/index.html", local) : s->page;
        h = mix(mix(h, published), str_hash(page));
        if (anchor != link_no_anchor) {
            u64 offset = u64_max;
            for (u64 i = 0; !index_before && i < s->anchor_count; i += 1)
                if (s->anchors[i].number == anchor) offset = s->anchors[i].offset;
            h = mix(h, offset);
        }
    }
    scratch_end(scratch);
    return h;
}

static u64 content_value(ContentKey key) { return mix(key.half[0], key.half[1]); }

// What a link check uses of a result: pending or final, answered or not,
// and why not.
static u64 address_value(const UrlCheckResult *r)
{
    if (!r->found || r->pending) return 1;
    return mix(r->status != 0 ? 2 : 3, r->status != 0 ? 0 : r->failure);
}

static LinkTarget document_lookup(Arena *arena, Str path)
{
    LinkTarget target = {};
    target.summary = doc_summary_copy(arena, path);
    if (target.summary) target.state = LinkTarget_Published;
    else if (doc_find(path)) target.state = LinkTarget_Pending;
    return target;
}

//- the log

DocumentReadLog depends_log_begin(SiteBuild *build, u32 depth)
{
    // A worker's notes live on an arena of their own: the scratch arenas
    // are rolled back in between by the very code whose reads are noted.
    // A build inside another must not empty the outer one's.
    thread_local Arena *notes[depends_log_depths] = {};
    Arena *&arena = notes[min_of(depth, depends_log_depths - 1)];
    // Notes of a build inside another are few: a smaller block each, so
    // eight of them per worker do not reserve half a gigabyte.
    if (!arena) arena = arena_alloc(depth ? MiB(4) : MiB(64), KiB(64));
    else arena_trim(arena, 0, KiB(64));
    DocumentReadLog log = {};
    log.build = build;
    log.arena = arena;
    log.changes_at_start = atomic_load_u64(&build->change_count);
    return log;
}

static void note(DocumentReadLog *log, u32 kind, u64 key, Str key_text, u64 value, u32 anchor)
{
    DocumentReadNote *n = push_struct<DocumentReadNote>(log->arena);
    if (!n) return;   // no memory: the build is stale the next time anything changes
    n->read = DocumentRead{key, value, kind, anchor};
    n->key = str_copy(log->arena, key_text);
    n->next = log->first;
    log->first = n;
    log->count += 1;
}

static LinkTarget lookup_document(void *user, Arena *arena, Str path, u32 anchor)
{
    DocumentReadLog *log = (DocumentReadLog *)user;
    LinkTarget target = document_lookup(arena, path);
    Str local = log->build->site.layout.local_folder;
    note(log, DocumentRead_Document, doc_path_hash(log->build, path), path, document_value(local, path, &target, anchor),
         anchor);
    return target;
}

u32 depends_file_state(DocumentReadLog *log, Str path)
{
    u32 state = fs_file_state(path);
    note(log, DocumentRead_FileState, str_hash(path), path, state, 0);
    return state;
}

static u32 lookup_file_state(void *user, Str path) { return depends_file_state((DocumentReadLog *)user, path); }

static UrlCheckResult lookup_address(void *user, UrlCheckService *service, Str address)
{
    DocumentReadLog *log = (DocumentReadLog *)user;
    UrlCheckResult result = url_check_lookup(service, address);
    note(log, DocumentRead_Address, str_hash(address), address, address_value(&result), 0);
    return result;
}

LinkLookups depends_link_lookups(DocumentReadLog *log)
{
    LinkLookups lookups = {};
    lookups.document = lookup_document;
    lookups.file_state = lookup_file_state;
    lookups.address = lookup_address;
    lookups.user = log;
    return lookups;
}

FsContent depends_read_file(DocumentReadLog *log, Str path, u64 deadline_us)
{
    FsContent content = fs_read(path, deadline_us);
    note(log, DocumentRead_FileContent, str_hash(path), path, content_value(content.file.key), 0);
    return content;
}

DocumentSummary *depends_summary(DocumentReadLog *log, Arena *arena, Str path)
{
    LinkTarget target = document_lookup(arena, path);
    Str local = log->build->site.layout.local_folder;
    // Read whole: noted as a link without an anchor, which covers whether
    // it is published and where.
    note(log, DocumentRead_Document, doc_path_hash(log->build, path), path,
         document_value(local, path, &target, link_no_anchor), link_no_anchor);
    return target.state == LinkTarget_Published ? target.summary : nullptr;
}

DocumentBuilt depends_built(DocumentReadLog *log, Arena *arena)
{
    DocumentBuilt built = {};
    DocumentRead *reads = push_array<DocumentRead>(arena, log->count ? log->count : 1);
    if (!reads) return built;
    u64 i = 0;
    for (DocumentReadNote *n = log->first; n; n = n->next) reads[i++] = n->read;
    built.reads = reads;
    built.read_count = i;
    return built;
}

// What reading `key` gives now, for a read of `kind`.
static u64 value_now(SiteBuild *build, u32 kind, Str key, u32 anchor)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    u64 value = 0;
    switch (kind) {
    case DocumentRead_Document: {
        LinkTarget target = document_lookup(scratch.arena, key);
        value = document_value(build->site.layout.local_folder, key, &target, anchor);
    } break;
    case DocumentRead_FileState: {
        u32 state = FileState_Missing;
        if (!fs_peek(key, nullptr, &state)) state = fs_file_state(key);
        value = state;
    } break;
    case DocumentRead_FileContent: {
        ContentKey content = {};
        fs_peek(key, &content, nullptr);
        value = content_value(content);
    } break;
    case DocumentRead_Address: {
        UrlCheckResult result = build->config.url_checks ? url_check_lookup(build->config.url_checks, key) : UrlCheckResult{};
        value = address_value(&result);
    } break;
    }
    scratch_end(scratch);
    return value;
}

bool depends_verify(DocumentReadLog *log)
{
    // Nothing noted since the build began: any change to come is noted
    // after these reads were stored, and its follow-up finds them.
    if (atomic_load_u64(&log->build->change_count) == log->changes_at_start) return true;
    for (DocumentReadNote *n = log->first; n; n = n->next)
        if (value_now(log->build, n->read.kind, n->key, n->read.anchor) != n->read.value) return false;
    return true;
}

//- following changes

namespace {
struct Candidate {
    DocumentRecord *record;
    DocumentRead read;
    const SiteChange *change;
};

// The read kinds a change can touch, and the key they are filed under.
bool change_touches(SiteBuild *build, const SiteChange *c, u32 kind, u64 *out_key)
{
    switch (c->kind) {
    case SiteChange_File:
        *out_key = str_hash(c->key);
        return kind == DocumentRead_FileState || kind == DocumentRead_FileContent;
    case SiteChange_Document:
        *out_key = doc_path_hash(build, c->key);
        return kind == DocumentRead_Document;
    case SiteChange_Address:
        *out_key = str_hash(c->key);
        return kind == DocumentRead_Address;
    default: return false;
    }
}
} // namespace

u64 depends_follow(SiteBuild *build, const SiteChange *changes, u64 push_limit)
{
    ArenaTemp scratch = scratch_begin(nullptr, 0);
    // The keys to look for, once each.
    u64 key_count = 0;
    for (const SiteChange *c = changes; c; c = c->next) key_count += 1;
    u64 *keys = push_array<u64>(scratch.arena, key_count ? key_count : 1);
    const SiteChange **by_key = push_array<const SiteChange *>(scratch.arena, key_count ? key_count : 1);
    u64 k = 0;
    for (const SiteChange *c = changes; c && keys && by_key; c = c->next) {
        u64 key = 0;
        if (c->kind == SiteChange_NewName) continue;
        change_touches(build, c, 0, &key);
        keys[k] = key;
        by_key[k] = c;
        k += 1;
    }
    key_count = keys && by_key ? k : 0;

    // Under each stripe's lock, only the reads that match are copied out;
    // what they give now is asked with no lock held.
    Candidate *candidates = nullptr;
    u64 candidate_count = 0, candidate_room = 0;
    for (u64 b = 0; b < document_bucket_count && key_count; b += 1) {
        TableStripe *stripe = striped_stripe_of(&build->documents, b);
        srw_lock_shared(stripe->slim);
        for (DocumentRecord *r = build->buckets[b].first; r; r = r->next) {
            DocumentReads *reads = r->reads;
            if (!reads || !reads->count) continue;
            for (u64 i = 0; i < key_count; i += 1) {
                DocumentRead *items = reads->items;
                DocumentRead *at = std::lower_bound(items, items + reads->count, keys[i],
                                                    [](const DocumentRead &x, u64 key) { return x.key < key; });
                for (; at < items + reads->count && at->key == keys[i]; at += 1) {
                    u64 unused = 0;
                    if (!change_touches(build, by_key[i], at->kind, &unused)) continue;
                    if (candidate_count == candidate_room) {
                        u64 room = candidate_room ? candidate_room * 2 : 256;
                        Candidate *grown = push_array<Candidate>(scratch.arena, room);
                        if (!grown) break;
                        if (candidate_count) memcpy(grown, candidates, candidate_count * sizeof *grown);
                        candidates = grown;
                        candidate_room = room;
                    }
                    candidates[candidate_count++] = Candidate{r, *at, by_key[i]};
                }
            }
        }
        srw_unlock_shared(stripe->slim);
    }

    // Each distinct question is asked once.
    struct Asked {
        const SiteChange *change;
        u32 kind;
        u32 anchor;
        u64 value;
    };
    Asked *asked = push_array<Asked>(scratch.arena, candidate_count ? candidate_count : 1);
    u64 asked_count = 0;
    DocumentRecord **marked = push_array<DocumentRecord *>(scratch.arena, candidate_count ? candidate_count : 1);
    u64 marked_count = 0;
    for (u64 i = 0; i < candidate_count && asked && marked; i += 1) {
        Candidate *c = &candidates[i];
        u64 value = 0;
        bool found = false;
        for (u64 a = 0; a < asked_count && !found; a += 1)
            if (asked[a].change == c->change && asked[a].kind == c->read.kind && asked[a].anchor == c->read.anchor) {
                value = asked[a].value;
                found = true;
            }
        if (!found) {
            value = value_now(build, c->read.kind, c->change->key, c->read.anchor);
            asked[asked_count++] = Asked{c->change, c->read.kind, c->read.anchor, value};
        }
        if (value != c->read.value) marked[marked_count++] = c->record;
    }
    if (marked) {
        std::sort(marked, marked + marked_count);
        marked_count = (u64)(std::unique(marked, marked + marked_count) - marked);
    }
    u32 push = marked_count <= push_limit ? DocPush_Queue : DocPush_None;
    for (u64 m = 0; m < marked_count; m += 1) doc_mark_stale(build, marked[m], push);
    scratch_end(scratch);
    return marked_count;
}
