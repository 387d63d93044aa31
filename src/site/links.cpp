// site/links.cpp: link validation of one parsed document.
#include "site/links.h"

#include "http/url_check.h"
#include "markup/header_fields.h"
#include "markup/paths.h"
#include "os/file_service.h"
#include "os/platform.h"
#include "shell/page_build.h"
#include "site/output_paths.h"

//- pieces

LinkTargetText link_target_split(Str text)
{
    LinkTargetText t = {};
    t.path = text;
    u64 open = str_find_byte(text, '[', 0);
    u64 hash = str_find_byte(text, '#', 0);
    u64 close = str_find_byte(text, ']', 0);
    if (open < hash && hash < close && close < text.size) {
        t.path = str_prefix(text, open);
        t.has_anchor = 1;
        u64 whole = 0;
        for (u64 i = hash + 1; i < close && char_is_digit((u8)text.str[i]); i += 1) {
            t.anchor = (t.anchor * 10 + (u64)(text.str[i] - '0')) & 0xff;
            whole = min_of<u64>(whole * 10 + (u64)(text.str[i] - '0'), 1000);
        }
        t.anchor_past_byte = whole > 255;
    }
    return t;
}

//- messages

// `target` names what a link message is about: the link as written.
static void push_warning(Arena *arena, ParsedDocument *doc, MarkupNode *at, Str text, Str target)
{
    Diagnostic *d = diag_push(arena, &doc->messages, at, DiagLevel_Warning, text);
    if (d) d->target = target;
    doc->message_count = doc->messages.count;
    doc->max_level = doc->messages.max_level;
}

// Pass 2 and 3 warnings stand on a message anchor of their own, so the
// record keeps the link's text and place whatever later rewrites the link.
static void push_warning_anchored(Arena *arena, ParsedDocument *doc, MarkupNode *element, Str text, Str target)
{
    MarkupNode *first = element->first_child;
    Str shown = node_is_nil(first) ? element->text : first->text;
    push_warning(arena, doc, node_new_message(arena, element->offset, 0, shown), text, target);
}

// A link's failure, told with its reason: the pass for unresolved
// references then adds no second warning of its own for the same link.
static void link_fault(Arena *arena, ParsedDocument *doc, MarkupNode *link, Str text, Str target)
{
    link->flags |= NodeFlag_Told;
    push_warning(arena, doc, link, text, target);
}

static void link_fault_anchored(Arena *arena, ParsedDocument *doc, MarkupNode *link, Str text, Str target)
{
    link->flags |= NodeFlag_Told;
    push_warning_anchored(arena, doc, link, text, target);
}

// The text of a file link as its author wrote it, kept before pass 1 turns
// it into the resolved path.
static void written_keep(Arena *arena, LinkWaits *waits, MarkupNode *link, Str text)
{
    if (!waits) return;
    if (!waits->written.bucket_count) waits->written = str_map_alloc(arena, 64);
    Str *kept = push_struct<Str>(arena);
    if (!kept || !waits->written.bucket_count) return;
    *kept = text;
    // Keyed by the node's address: the key's bytes are the pointer's own.
    const MarkupNode *key = link;
    str_map_insert(arena, &waits->written, Str{(const char *)&key, sizeof key}, (u64)kept);
}

// What a message about an unresolved element names: a file link as
// written, a web address; a reference to a footnote or an anchor is found
// by its line and column alone.
static Str written_target(Arena *arena, const LinkWaits *waits, MarkupNode *element)
{
    if (waits && waits->written.bucket_count) {
        const MarkupNode *key = element;
        StrMapNode *found = str_map_lookup(&waits->written, Str{(const char *)&key, sizeof key});
        if (found) return *(const Str *)found->value;
    }
    (void)arena;
    if (element->kind != MarkupKind_LinkHttp && element->kind != MarkupKind_LinkFile) return str_empty();
    MarkupNode *run = element->first_child;
    while (!node_is_nil(run) && run->node_class != NodeClass_Text) run = run->next;
    return node_is_nil(run) ? str_empty() : run->text;
}

//- pass 1: file links

static MarkupNode *first_text_child(MarkupNode *link)
{
    for (MarkupNode *c = link->first_child; !node_is_nil(c); c = c->next)
        if (c->node_class == NodeClass_Text) return c;
    return &markup_nil;
}

// A document's own numbered anchors, for links that point into it.
static bool own_anchor(const ParsedDocument *doc, u64 number, u64 *out_offset)
{
    for (NodeListCell *cell = doc->internal_links.first; cell; cell = cell->next) {
        MarkupNode *d = cell->node;
        if ((d->flags & NodeFlag_Unresolved) || d->number != number) continue;
        *out_offset = d->offset;
        return true;
    }
    return false;
}

static bool summary_anchor(const DocumentSummary *s, u64 number, u64 *out_offset)
{
    for (u64 i = 0; i < s->anchor_count; i += 1)
        if (s->anchors[i].number == number) {
            *out_offset = s->anchors[i].offset;
            return true;
        }
    return false;
}

// Where an output path puts a page: empty when it is no page or may not
// take one.
static Str output_page(Arena *arena, Str local_folder, Str output_path)
{
    Str reason;
    return page_output_is_html(output_path) ? output_path_resolve(arena, local_folder, output_path, &reason) : str_empty();
}

Str link_document_page(Arena *arena, Str local_folder, const ParsedDocument *doc)
{
    if (header_status_hides(doc->status)) return str_empty();
    for (StrNode *n = doc->output_paths.first; n; n = n->next) {
        Str page = output_page(arena, local_folder, n->string);
        if (page.size) return page;
    }
    return str_empty();
}

static void linked_page_note(Arena *arena, StrMap *pages, Str source, Str page)
{
    if (!pages || str_map_lookup(pages, source)) return;
    Str *kept = push_struct<Str>(arena);
    if (!kept) return;
    *kept = str_copy(arena, page);
    str_map_insert(arena, pages, source, (u64)kept);
}

void links_document_targets(Arena *arena, const ParsedDocument *doc, Str local_folder, Str document_path, StrList *out)
{
    for (NodeListCell *cell = doc->file_links.first; cell; cell = cell->next) {
        MarkupNode *run = first_text_child(cell->node);
        if (node_is_nil(run)) continue;
        bool embedded = (cell->node->flags & NodeFlag_Embedded) != 0;
        Str resolved = link_resolve_path(arena, local_folder, link_target_split(run->text).path, embedded);
        if (str_eq(extension(resolved), str_lit("wyn")) && !str_eq(resolved, document_path))
            str_list_push(arena, out, resolved);
    }
}

// What the build knows of a file (and notes it read), or the disk now.
static u32 link_file_state(const LinkCheckSettings *settings, Str path)
{
    return settings->lookups.file_state ? settings->lookups.file_state(settings->lookups.user, path) : file_state_of(path);
}

// "cat.JPG" for cat.jpg: a camera's capitals, or the author's. The link
// would work where names ignore case (and on no web server that does not):
// the file whose name differs in capitals alone is named, with the path to
// write.
static Str case_twin_reason(Arena *arena, Str missing, Str path, Str resolved)
{
    Str name = path_file_name(resolved);
    if (!name.size || path_file_name(path).size != name.size) return missing;
    ArenaTemp scratch = scratch_begin(arena);
    FolderListing listing = folder_list(scratch.arena, path_folder_with_slash(resolved));
    Str twin = str_empty();
    for (FolderEntry *e = listing.first; e && !twin.size; e = e->next)
        if (!e->is_folder && !str_eq(e->name, name) && str_match(e->name, name, StrMatch_CaseInsensitive))
            twin = e->name;
    Str reason = twin.size ? str_pushf(arena, "%S; %S%S differs from it in capitals alone: write \"%S%S\"",
                                       missing, path_folder_with_slash(resolved), twin, path_folder_with_slash(path), twin)
                           : missing;
    scratch_end(scratch);
    return reason;
}

// "Missing" alone sends the author looking for a typing mistake when the
// file is there, in a folder the link does not look in: "/images/cat.png"
// shown in place is looked for as assets/images/images/cat.png, and
// "./notes.pdf" starts at the local folder, not beside the document.
static Str missing_reason(Arena *arena, const LinkCheckSettings *settings, Str path, bool embedded, Str resolved)
{
    Str missing = str_pushf(arena, "%S is missing", resolved);
    // "www.example.org" and "http//example.org" are web addresses to their
    // author, and files of the site to wyn: a web address needs its scheme.
    if (str_match(str_lit("www."), path, StrMatch_Prefix | StrMatch_CaseInsensitive))
        return str_pushf(arena, "%S; \"%S\" is read as a file of the site: a web address starts with https://, as in "
                                "\"https://%S\"",
                         missing, path, path);
    if (str_match(str_lit("http"), path, StrMatch_Prefix | StrMatch_CaseInsensitive)) {
        Str rest = str_skip(path, 4);
        bool secure = rest.size && (rest.str[0] == 's' || rest.str[0] == 'S');
        if (secure) rest = str_skip(rest, 1);
        if (rest.size && (rest.str[0] == ':' || rest.str[0] == '/')) {
            while (rest.size && (rest.str[0] == ':' || rest.str[0] == '/')) rest = str_skip(rest, 1);
            return str_pushf(arena, "%S; \"%S\" is read as a file of the site: a web address is written with \"://\", "
                                    "as in \"%s://%S\"",
                             missing, path, secure ? "https" : "http", rest);
        }
    }
    auto there = [&](Str p) { return link_file_state(settings, p) == FileState_Regular; };
    Str folder = link_type_folder(path, embedded);
    bool folder_added = folder.size && !str_contains(path, folder);
    Str found = str_empty();
    Str as_written = to_site_path(arena, settings->local_folder, path, 1);
    if (folder_added && !str_eq(as_written, resolved) && there(as_written)) found = as_written;
    bool relative = path.size && !char_is_slash((u8)path.str[0]) && path_kind(path) != 1;
    Str beside = relative && settings->document_path.size
                     ? path_resolve_segments(arena, path_folder(settings->document_path), path)
                     : str_empty();
    bool found_beside = !found.size && beside.size && !str_eq(beside, resolved) && there(beside);
    if (found_beside) found = beside;
    if (!found.size) return case_twin_reason(arena, missing, path, resolved);
    // Where the path starts: the folder its kind is kept in, or the local
    // folder.
    Str local = settings->local_folder;
    Str start = folder_added ? to_site_path(arena, local, str_pushf(arena, "%S/", folder), 1) : local;
    if (found_beside && start.size && str_match(start, found, StrMatch_Prefix) && found.size > start.size)
        return str_pushf(arena, "%S; a path starts at %S, so %S, beside this document, is \"/%S\"", missing, start, found,
                         str_skip(found, start.size));
    if (!folder_added) return missing;
    Str kind = str_eq(folder, str_lit("/wyn_files"))      ? str_lit("documents are")
               : str_eq(folder, str_lit("/assets/files")) ? str_lit("tables shown in place are")
                                                          : str_lit("pictures shown in place are");
    return str_pushf(arena, "%S; %S looked for below %S, and %S lies outside it", missing, kind, start, found);
}

bool links_check_files(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings, LinkWaits *waits,
                       StrMap *linked_pages)
{
    bool complete = true;
    Str index_path = str_pushf(arena, "%Swyn_files/index.wyn", settings->local_folder);
    // Links of a document that writes no page of its own are on no page.
    // The index wyn writes lists every published document, a page or not,
    // and its author is wyn: it is told nothing.
    // Asked only of a document that links a pageless one, which is rare.
    int own_page = -1;
    auto has_own_page = [&]() {
        if (own_page < 0)
            own_page = link_document_page(arena, settings->local_folder, doc).size != 0 &&
                       !str_eq(settings->document_path, index_path);
        return own_page == 1;
    };
    for (NodeListCell *cell = doc->file_links.first; cell; cell = cell->next) {
        MarkupNode *link = cell->node;
        MarkupNode *run = first_text_child(link);
        if (node_is_nil(run)) continue;
        bool embedded = (link->flags & NodeFlag_Embedded) != 0;
        LinkTargetText target = link_target_split(run->text);
        Str as_written = run->text;
        written_keep(arena, waits, link, as_written);
        Str resolved = link_resolve_path(arena, settings->local_folder, target.path, embedded);
        // The index document is made once every other document is built, so
        // it is known to come though it may not be there yet, and its page
        // is the site's home page.
        bool is_index = str_eq(resolved, index_path);
        // A file that is not there is the reason a link fails, whatever else
        // the link asks of it: that alone is told.
        u32 state = is_index ? FileState_Regular : link_file_state(settings, resolved);
        // "/notes.pdf#page=3", "/about.html#team": a file and a place in it,
        // as a web address has them. A file whose own name holds "#" is
        // taken whole, as it was found.
        Str fragment = str_empty();
        Str written_path = target.path;
        u64 hash = target.has_anchor ? target.path.size : str_find_byte(target.path, '#', 0);
        if (state != FileState_Regular && hash > 0 && hash < target.path.size) {
            Str file = str_prefix(target.path, hash);
            Str file_resolved = link_resolve_path(arena, settings->local_folder, file, embedded);
            u32 file_state = link_file_state(settings, file_resolved);
            if (str_match(extension(file), str_lit("wyn"), StrMatch_CaseInsensitive) &&
                file_state == FileState_Regular) {
                // A document's places are its numbered anchors, and they are
                // written in brackets; "#3" alone would be a file's name.
                Str place = str_skip(target.path, hash + 1);
                bool number = place.size > 0;
                for (u64 i = 0; i < place.size; i += 1) number = number && char_is_digit((u8)place.str[i]);
                run->name = run->text = resolved;
                link->flags |= NodeFlag_Unresolved;
                if (settings->file_path_checks)
                    link_fault(arena, doc, link,
                               number ? str_pushf(arena, "a document's numbered anchor is written in brackets: \"%S[#%S]\"",
                                                  file, place)
                                      : str_pushf(arena,
                                                  "a link into a document names one of its numbered anchors, as in "
                                                  "\"%S[#1]\"; \"#%S\" is none",
                                                  file, place),
                               as_written);
                continue;
            }
            if (file_state == FileState_Regular || !str_match(extension(file), str_lit("wyn"), StrMatch_CaseInsensitive))
                fragment = str_skip(target.path, hash);
            resolved = file_resolved;
            written_path = file;
            state = file_state;
            is_index = str_eq(resolved, index_path);
        }
        run->name = run->text = fragment.size ? str_pushf(arena, "%S%S", resolved, fragment) : resolved;

        if (str_eq(extension(resolved), str_lit("wyn"))) {
            ArenaTemp scratch = scratch_begin(arena);
            bool is_self = str_eq(resolved, settings->document_path);
            LinkTarget found = {};
            if (!is_self && settings->lookups.document)
                found = settings->lookups.document(settings->lookups.user, scratch.arena, resolved,
                                                   target.has_anchor && !target.anchor_past_byte ? (u32)target.anchor : link_no_anchor);
            bool hidden = found.state == LinkTarget_Published && !found.summary->published;
            bool anchor_found = false;
            u64 anchor_offset = 0;
            if (is_self) {
                // A link to the document itself leads to its own page, as a
                // link to any other document leads to that one's: the same
                // address on a first build as on every later one.
                anchor_found = target.has_anchor && own_anchor(doc, target.anchor, &anchor_offset);
                linked_page_note(arena, linked_pages, resolved, link_document_page(scratch.arena, settings->local_folder, doc));
            } else if (found.state == LinkTarget_Published) {
                anchor_found = target.has_anchor && summary_anchor(found.summary, target.anchor, &anchor_offset);
                linked_page_note(arena, linked_pages, resolved, found.summary->page);
            } else if (is_index) {
                linked_page_note(arena, linked_pages, resolved, str_pushf(scratch.arena, "%Shtml/index.html", settings->local_folder));
            }
            scratch_end(scratch);

            if (found.state == LinkTarget_Pending && !is_index) {
                // It will be built: wait for what it publishes, with file-path
                // checks or without (a deploy build needs the status and the
                // page of the linked document as much as a checked one).
                str_list_push(arena, &waits->documents, resolved);
                complete = false;
            } else if (hidden) {
                // A draft or personal document has no page: the link can
                // never be followed, checked or not; the reason is told only
                // when file paths are checked.
                link->flags |= NodeFlag_Unresolved;
                if (settings->file_path_checks && state == FileState_Regular)
                    link_fault(arena, doc, link,
                               str_pushf(arena, "%S is referenced in a file but is hidden, the link will fail.", resolved),
                               as_written);
            } else if (found.state == LinkTarget_Published && !found.summary->page.size && has_own_page()) {
                // A page links a document that writes none (no output_path
                // names one): the link is drawn and goes nowhere.
                link->flags |= NodeFlag_Unresolved;
                if (settings->file_path_checks && state == FileState_Regular)
                    link_fault(arena, doc, link,
                               str_pushf(arena, "%S writes no page (no .html output_path in its header), so the link "
                                                "leads nowhere",
                                         resolved),
                               as_written);
            } else if (found.state == LinkTarget_Unknown && !is_self && !is_index) {
                // Not a document of this build (missing, outside the target
                // folder): it will never have a page.
                link->flags |= NodeFlag_Unresolved;
            } else if (target.has_anchor && target.anchor_past_byte) {
                // 300 would be read as 44, an anchor nobody meant.
                link->flags |= NodeFlag_Unresolved;
                link_fault(arena, doc, link,
                           str_pushf(arena, "the anchor number of this link is over 255, the largest there is"), as_written);
            } else if (target.has_anchor) {
                if (!anchor_found) {
                    // The file is there: say that the anchor is what is
                    // missing, or the author looks for a wrong path.
                    link->flags |= NodeFlag_Unresolved;
                    if (settings->file_path_checks && state == FileState_Regular)
                        link_fault(arena, doc, link,
                                   str_pushf(arena, "%S has no anchor [#%u]", resolved, (u32)target.anchor),
                                   as_written);
                } else {
                    MarkupNode *reference = node_new(arena, NodeClass_Element, 0, kind_reference, kind_reference,
                                                     anchor_offset);
                    reference->number = (u8)target.anchor;
                    node_prepend_child(link, reference);
                }
            }
        }

        bool listed_gone = settings->listing && state == FileState_Missing && str_eq(extension(resolved), str_lit("wyn"));
        if (state == FileState_Regular) {
            if (settings->deploy) {
                Str web = site_relative_path(settings->local_folder, resolved);
                run->name = run->text = fragment.size ? str_pushf(arena, "%S%S", web, fragment) : web;
            }
        } else if (listed_gone) {
            // The listing is written again once the removal is taken: no
            // fault of the author's, and nothing for the last pass to tell.
            link->flags |= NodeFlag_Told;
        } else if (settings->file_path_checks) {
            // Say what happened: a file that is there but cannot be read
            // is not missing, and the author looks elsewhere for the fault.
            Str why = state == FileState_Missing   ? missing_reason(arena, settings, written_path, embedded, resolved)
                      : state == FileState_Folder  ? str_pushf(arena, "%S is a folder, not a file", resolved)
                      : state == FileState_Special ? str_pushf(arena, "%S is not a regular file", resolved)
                                                   : str_pushf(arena, "%S is there but cannot be read", resolved);
            link->flags |= NodeFlag_Unresolved;
            link_fault(arena, doc, link, why, as_written);
        }
    }
    return complete;
}

//- pass 2: web links

bool links_check_web(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings, LinkWaits *waits)
{
    UrlCheckService *service = settings->url_checks;
    if (!service) return true;
    bool complete = true;
    for (NodeListCell *cell = doc->web_links.first; cell; cell = cell->next) {
        MarkupNode *link = cell->node;
        MarkupNode *run = first_text_child(link);
        if (node_is_nil(run)) continue;
        Str address = run->text;
        auto lookup = [&](Str a) {
            return settings->lookups.address ? settings->lookups.address(settings->lookups.user, service, a)
                                             : url_check_lookup(service, a);
        };
        UrlCheckResult result = lookup(address);
        if (!result.found) {
            // The parse hands every address over; one it did not (a tree
            // built another way) is asked for here.
            url_check_submit(service, address);
            result = lookup(address);
        }
        if (!result.found || result.pending) {
            str_list_push(arena, &waits->addresses, str_copy(arena, address));
            complete = false;
            continue;
        }
        if (result.status != 0) continue;   // any answer, a 404 included, means the host is there
        link->flags |= NodeFlag_Unresolved;
        if (result.failure == UrlCheckFailure_TooLong) {
            link_fault_anchored(arena, doc, link, url_check_refusal_text(arena, service, address), address);
        } else if (result.failure == HttpFailure_SecureChannel) {
            link_fault_anchored(arena, doc, link, str_lit("uri must be https."), address);
        } else {
            // No answer at all: not resolved, refused, reset, silent or
            // looping. A reader cannot follow any of them.
            link_fault_anchored(arena, doc, link, str_lit("uri fetch failed."), address);
        }
    }
    return complete;
}

//- pass 3: unresolved references

static Str unresolved_label(u32 kind)
{
    switch (kind) {
    case MarkupKind_LinkFile: return str_lit("file path");
    case MarkupKind_LinkHttp: return str_lit("uri");
    case MarkupKind_FootnoteRef: return str_lit("footnote");
    case MarkupKind_InternalLinkRef: return str_lit("internal link");
    default: return str_empty();
    }
}

// Whether a link of the list failed and was not told why: the walk below
// would warn of it.
static bool untold_failure(const NodeList *links)
{
    for (NodeListCell *cell = links->first; cell; cell = cell->next)
        if ((cell->node->flags & (NodeFlag_Unresolved | NodeFlag_Told)) == NodeFlag_Unresolved) return true;
    return false;
}

void links_report_unresolved(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings,
                             const LinkWaits *waits)
{
    if (!settings->file_path_checks) return;
    // What the walk warns of is a checked link (always on one of the two
    // lists) or a reference the parse matched to nothing. Most documents
    // have neither, and the walk visits every word of the tree.
    if (!doc->unresolved_refs && !untold_failure(&doc->file_links) && !untold_failure(&doc->web_links)) return;
    for (MarkupNode *n = doc->root; !node_is_nil(n); n = node_preorder_next(n, doc->root)) {
        if (n->node_class != NodeClass_Element || !(n->flags & NodeFlag_Unresolved)) continue;
        // A definition the parse refused was warned about there.
        if (n->kind == MarkupKind_Reference || n->kind == MarkupKind_InternalLink || n->kind == MarkupKind_Footnote) continue;
        // One warning per broken link: the one that says why, when there is one.
        if (n->flags & NodeFlag_Told) continue;
        push_warning_anchored(arena, doc, n, str_pushf(arena, "%S not found", unresolved_label(n->kind)),
                              written_target(arena, waits, n));
    }
}

bool links_check(Arena *arena, ParsedDocument *doc, const LinkCheckSettings *settings, LinkWaits *waits,
                 StrMap *linked_pages)
{
    bool complete = links_check_files(arena, doc, settings, waits, linked_pages);
    // Web links are looked at even when a document is missing, so a parked
    // document waits for everything it needs at once.
    complete = links_check_web(arena, doc, settings, waits) && complete;
    if (complete) links_report_unresolved(arena, doc, settings, waits);
    return complete;
}
