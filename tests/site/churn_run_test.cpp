// End to end: a watched site under a storm of edits ends with the same
// pages as a fresh one-shot build of the same final sources.
//
// The real wyn watches a generated site of 200 documents that link to each
// other, to each other's numbered anchors, to themselves, and to sources
// that do not exist yet; that embed tables and pictures and link plain
// files; with a menu and a site style sheet. A fixed-seed stream of
// operations edits documents (body, title, status, anchors, links, an
// output path shared with other documents, identical bytes), creates,
// renames and deletes them (so links wait for sources that come and go),
// rewrites, deletes and creates the tables, pictures and files they show,
// and edits the menus and the style sheet, with short random pauses and
// now and then a longer one so that builds finish in between. wyn builds
// again only what a change touches, so every kind of thing a page reads
// from elsewhere is changed here. When wyn is quiet it
// is stopped; the final sources are built again by `wyn once` at the same
// place (pages hold absolute file addresses), and both html folders must
// hold the same files with the same bytes.
//
// Left out of the comparison: the page manifest (.wyn_manifest), which
// lists pages in the order they were first written and so records the
// run's history. Nothing else may differ: the index carries today's date,
// which is the same for both runs unless they straddle midnight.
//
// WYN_CHURN_SEED repeats a run, WYN_CHURN_OPS sets the number of operations
// (1,000 by default), WYN_CHURN_DOCUMENTS the starting size of the site.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../jpeg_bytes.h"
#include "../test_support.h"
#include "../wyn_process.h"

namespace fs = std::filesystem;

namespace {

struct Link {
    std::string target;   // below wyn_files/, or a path below local/ for files
    int anchor;           // 0: the document itself
    bool file = false;    // a plain file, a table or a picture rather than a document
    bool embedded = false;
};

struct Document {
    int id = 0;
    int version = 0;
    int title_version = 0;
    std::string status;   // "", "draft", "Personal"
    bool second_anchor = true;
    int common_page = -1;   // 0 to 2: the output path several documents may name; -1: its own
    std::vector<Link> links;

    std::string text() const
    {
        std::string n = std::to_string(id);
        std::string s = "``\ntitle: Page " + n + " take " + std::to_string(title_version) + "\n";
        if (common_page >= 0) s += "output_path: \"/html/common" + std::to_string(common_page) + ".html\"\n";
        else s += "output_path: \"/html/o" + std::to_string(id % 5) + "/p" + n + ".html\"\n";
        if (!status.empty()) s += "status: " + status + "\n";
        s += "``\nSection " + n + "\n  Body of page " + n + " in version " + std::to_string(version) +
             " with an anchor [#1]_ here.\n";
        for (const Link &l : links) {
            if (l.file) {
                s += std::string("  see ") + (l.embedded ? "_" : "") + "\"/" + l.target + "\" there\n";
                continue;
            }
            s += "  see \"/wyn_files/" + l.target;
            if (l.anchor) s += "[#" + std::to_string(l.anchor) + "]";
            s += "\" there\n";
        }
        if (second_anchor) s += "Later\n  A second anchor [#2]_ in version " + std::to_string(version) + ".\n";
        return s;
    }
};

std::string menu(int version, bool smartphone)
{
    return std::string("<nav id=\"menu\"><ul><li><a href=\"/\">Home ") + std::to_string(version) +
           "</a></li><li><a href=\"/html/o0/p0.html\">First" + (smartphone ? " small" : "") + "</a></li></ul></nav>\n";
}

std::string site_css(int version)
{
    return "/* the site's own rules */\nbody{margin:" + std::to_string(version % 7) + "px;}\n";
}

std::string first_difference(const std::string &a, const std::string &b)
{
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) at += 1;
    size_t from = at > 80 ? at - 80 : 0;
    return "at byte " + std::to_string(at) + "\n    watch: ..." + a.substr(from, 200) + "\n    once:  ..." +
           b.substr(from, 200);
}


bool ends_with_quiet_line(const std::string &text)
{
    size_t end = text.size();
    if (end && text[end - 1] == '\n') end -= 1;
    size_t start = text.rfind('\n', end ? end - 1 : 0);
    start = start == std::string::npos ? 0 : start + 1;
    return text.compare(start, 16, "up to date after") == 0;
}

struct Churn {
    fs::path local;
    std::mt19937 random;
    std::map<std::string, Document> documents;   // by path below wyn_files/
    int next_id = 0;
    int start_documents = 0;
    int menu_version = 0;
    int asset_version = 0;
    int css_version = 0;
    std::map<std::string, int> counts;

    std::string last;   // the latest operation

    void noted(const char *operation)
    {
        counts[operation] += 1;
        last = operation;
    }

    int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); }
    bool chance(int percent) { return pick(100) < percent; }
    fs::path source(const std::string &relative) const { return local / "wyn_files" / relative; }

    std::string any_document()
    {
        auto it = documents.begin();
        std::advance(it, pick((int)documents.size()));
        return it->first;
    }

    // Links to documents, now and then to one still to come (created later
    // under that name, or never), to the document itself, or to a file.
    std::vector<Link> some_links(const std::string &self)
    {
        std::vector<Link> links;
        int count = documents.empty() ? 0 : 1 + pick(3);
        for (int i = 0; i < count; i += 1) {
            int kind = pick(100);
            if (kind < 10) links.push_back(Link{name_of(next_id + 1 + pick(8)), pick(3)});
            else if (kind < 16 && !self.empty()) links.push_back(Link{self, pick(3)});
            else if (kind < 22) links.push_back(Link{"t" + std::to_string(pick(3)) + ".csv", 0, true, true});
            else if (kind < 28) links.push_back(Link{"i" + std::to_string(pick(3)) + ".jpg", 0, true, true});
            else if (kind < 34) links.push_back(Link{"files/f" + std::to_string(pick(3)) + ".txt", 0, true});
            else links.push_back(Link{any_document(), pick(3)});
        }
        return links;
    }

    // A fifth folder appears during the run: new folders are watched too.
    std::string name_of(int id) const
    {
        return "d" + std::to_string(id < start_documents ? id % 4 : id % 5) + "/p" + std::to_string(id) + ".wyn";
    }
    std::string new_name() { return name_of(next_id); }

    void save(const std::string &relative)
    {
        if (chance(70)) write_replacing(source(relative), documents[relative].text());
        else write_file(source(relative), documents[relative].text());
    }

    void create()
    {
        Document d;
        d.id = next_id;
        std::string name = new_name();
        d.links = some_links(name);
        d.second_anchor = chance(80);
        if (chance(4)) d.common_page = pick(3);
        next_id += 1;
        documents[name] = d;
        save(name);
        noted("create");
    }

    void edit()
    {
        std::string name = any_document();
        Document &d = documents[name];
        int kind = pick(100);
        if (kind < 35) {
            d.version += 1;
            noted("edit body");
        } else if (kind < 40) {
            d.common_page = d.common_page >= 0 ? -1 : pick(3);
            noted("edit output path");
        } else if (kind < 60) {
            d.title_version += 1;
            noted("edit title");
        } else if (kind < 75) {
            static const char *statuses[] = {"", "draft", "Personal", ""};
            d.status = statuses[pick(4)];
            noted("edit status");
        } else if (kind < 85) {
            d.second_anchor = !d.second_anchor;
            d.version += 1;
            noted("edit anchors");
        } else if (kind < 92) {
            d.links = some_links(name);
            noted("edit links");
        } else {
            noted("identical rewrite");
        }
        last += " of " + name;
        save(name);
    }

    void rename()
    {
        std::string from = any_document();
        std::string to = new_name();
        next_id += 1;
        fs::create_directories(source(to).parent_path());
        fs::rename(source(from), source(to));
        Document d = documents[from];
        documents.erase(from);
        documents[to] = d;
        noted("rename");
    }

    void remove()
    {
        std::string name = any_document();
        fs::remove(source(name));
        documents.erase(name);
        noted("delete");
    }

    void shell_input()
    {
        if (chance(60)) {
            menu_version += 1;
            bool smartphone = chance(50);
            write_replacing(local / "shared/html" / (smartphone ? "default_menu_smartphone.html" : "default_menu_desktop.html"),
                            menu(menu_version, smartphone));
            noted("menu");
        } else {
            css_version += 1;
            write_replacing(local / "shared/css/wyn/css_wyn.css", site_css(css_version));
            noted("style");
        }
    }

    // The tables, pictures and plain files that documents show or link:
    // rewritten (a picture with another size), deleted, or made again.
    void asset()
    {
        asset_version += 1;
        int which = pick(3);
        int kind = pick(3);
        fs::path path = kind == 0   ? local / "assets/files" / ("t" + std::to_string(which) + ".csv")
                        : kind == 1 ? local / "assets/images" / ("i" + std::to_string(which) + ".jpg")
                                    : local / "files" / ("f" + std::to_string(which) + ".txt");
        if (chance(25)) {
            fs::remove(path);
            noted("asset deleted");
            return;
        }
        std::string bytes = kind == 0   ? "a;b\n" + std::to_string(asset_version) + ";x\n"
                            : kind == 1 ? jpeg_bytes(100 + asset_version, 50 + asset_version % 7, 0, 0, false)
                                        : "file " + std::to_string(asset_version) + "\n";
        write_replacing(path, bytes);
        noted("asset written");
    }

    void operation(int target_size)
    {
        int size = (int)documents.size();
        int roll = pick(100);
        // Creations and deletions lean towards the starting size.
        int create_share = size < target_size ? 16 : 10;
        if (roll < 3) shell_input();
        else if (roll < 8) asset();
        else if (roll < 8 + create_share || size < 10) create();
        else if (roll < 8 + create_share + 10) rename();
        else if (roll < 8 + create_share + 10 + (size > target_size ? 14 : 8)) remove();
        else edit();
    }

    std::string summary() const
    {
        std::string s;
        for (const auto &c : counts) s += c.first + " " + std::to_string(c.second) + ", ";
        return s + std::to_string(documents.size()) + " documents at the end, the last operation: " + last;
    }
};

} // namespace

TEST(ChurnRun, AWatchedSiteUnderChurnEndsWithTheSamePagesAsAFreshBuild)
{
    const int operations = env_int("WYN_CHURN_OPS", 1000);
    const int start_documents = env_int("WYN_CHURN_DOCUMENTS", 200);
    const unsigned seed = (unsigned)env_int("WYN_CHURN_SEED", 20261207);
    SCOPED_TRACE("seed " + std::to_string(seed) + " (WYN_CHURN_SEED repeats this run), " + std::to_string(operations) +
                 " operations");

    TempFolder temporary("wyn-churn");
    fs::path base = temporary.path;
    fs::path root = base / "site";
    fs::path local = root / "local";

    Churn churn;
    churn.local = local;
    churn.start_documents = start_documents;
    churn.random.seed(seed);
    write_replacing(local / "shared/html/default_menu_desktop.html", menu(0, false));
    write_replacing(local / "shared/html/default_menu_smartphone.html", menu(0, true));
    write_replacing(local / "shared/css/wyn/css_wyn.css", site_css(0));
    write_replacing(local / "shared/css/fonts.css", "/* no fonts */\n");
    write_replacing(local / "shared/css/icons.css", "/* no icons */\n");
    for (int i = 0; i < 6; i += 1) churn.asset();
    for (int i = 0; i < start_documents; i += 1) churn.create();
    churn.counts.clear();

    std::string errors_file = (base / "wyn-stderr.txt").string();
    std::string watch_output;
    {
        WynProcess wyn(root.string(), {}, errors_file);
        ASSERT_TRUE(wyn.read_until("up to date after", 180)) << "the first build never became quiet:\n" << wyn.text;

        for (int op = 0; op < operations; op += 1) {
            churn.operation(start_documents);
            int roll = churn.pick(1000);
            int pause_ms = roll < 950 ? churn.pick(20) : roll < 990 ? 100 + churn.pick(200) : 600 + churn.pick(900);
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
            wyn.drain();
            ASSERT_TRUE(wyn.running()) << "wyn ended during operation " << op << "\n"
                                       << read_file(errors_file) << wyn.text.substr(wyn.text.size() > 4000 ? wyn.text.size() - 4000 : 0);
        }

        // Quiet: nothing printed for longer than wyn takes to notice a new
        // source (it lists the folders every 3 s), and the last line is the
        // quiet line. Any change it noticed would print at least that line
        // again.
        size_t seen = wyn.text.size();
        auto unchanged_since = std::chrono::steady_clock::now();
        auto deadline = unchanged_since + std::chrono::seconds(180);
        bool quiet = false;
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            wyn.drain();
            if (wyn.text.size() != seen) {
                seen = wyn.text.size();
                unchanged_since = std::chrono::steady_clock::now();
                continue;
            }
            if (std::chrono::steady_clock::now() - unchanged_since >= std::chrono::seconds(6) &&
                ends_with_quiet_line(wyn.text)) {
                quiet = true;
                break;
            }
        }
        ASSERT_TRUE(quiet) << "wyn did not become quiet within 180 s after the churn\n"
                           << churn.summary() << "\nwhat it printed last:\n"
                           << wyn.text.substr(wyn.text.size() > 3000 ? wyn.text.size() - 3000 : 0);
        ASSERT_TRUE(wyn.running()) << read_file(errors_file);
        kill(wyn.pid, SIGTERM);
        wyn.wait_exit();
        watch_output = wyn.text;
    }
    std::string errors = read_file(errors_file);
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;

    // The same final sources, in a fresh folder at the same place.
    fs::path watched = base / "watched";
    fs::rename(root, watched);
    fs::create_directories(local);
    for (const char *folder : {"wyn_files", "shared", "assets", "files"})
        if (fs::exists(watched / "local" / folder))
            fs::copy(watched / "local" / folder, local / folder, fs::copy_options::recursive);
    std::string once_output;
    {
        WynProcess once(root.string(), {"once"}, errors_file);
        ASSERT_TRUE(once.read_until("wyn once:", 180)) << once.text;
        once_output = once.text;
        EXPECT_EQ(once.wait_exit(), 0) << once.text;
    }
    errors = read_file(errors_file);
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;

    auto watch_pages = tree_bytes(watched / "local/html");
    auto once_pages = tree_bytes(local / "html");
    watch_pages.erase(".wyn_manifest");
    once_pages.erase(".wyn_manifest");
    std::vector<std::string> only_watch, only_once, differing;
    for (const auto &p : watch_pages) {
        auto it = once_pages.find(p.first);
        if (it == once_pages.end()) only_watch.push_back(p.first);
        else if (it->second != p.second) differing.push_back(p.first + " " + first_difference(p.second, it->second));
    }
    for (const auto &p : once_pages)
        if (!watch_pages.count(p.first)) only_once.push_back(p.first);
    auto first_few = [](const std::vector<std::string> &list) {
        std::string s;
        for (size_t i = 0; i < list.size() && i < 5; i += 1) s += "\n  " + list[i];
        return s;
    };
    EXPECT_TRUE(only_watch.empty()) << only_watch.size() << " pages the watch left that a fresh build does not make:"
                                    << first_few(only_watch) << "\n" << churn.summary();
    EXPECT_TRUE(only_once.empty()) << only_once.size() << " pages a fresh build makes that the watch never wrote:"
                                   << first_few(only_once) << "\n" << churn.summary();
    EXPECT_TRUE(differing.empty()) << differing.size() << " pages differ between the watch and a fresh build:"
                                   << first_few(differing) << "\n" << churn.summary();
    EXPECT_GT(once_pages.size(), (size_t)start_documents) << once_output;
    // The index source too: the watch's last one lists what a fresh one does.
    EXPECT_EQ(read_file(watched / "local/wyn_files/index.wyn"), read_file(local / "wyn_files/index.wyn"));
}
