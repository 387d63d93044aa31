// test-label: concurrency
//
// Change notifications, on every platform (inotify on Linux,
// ReadDirectoryChangesW on Windows): the names a folder watch reports, and
// a file service whose full passes are an hour apart, so that every change
// below must be seen through a notification or not at all. Real files in
// temporary folders; every wait has a deadline and checks an outcome.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "os/file_service.h"
#include "os_support.h"

namespace fsys = std::filesystem;

//- the watch itself

// What a watch reported for one folder, read until `wanted` names were all
// seen (or the folder's watch was lost, when `lost` asks for that) or 10 s
// passed.
struct Reported {
    std::set<std::string> names;
    bool lost = false;
    bool other_ids = false;   // a name came for a folder that was not asked about
};

static Reported read_until(FolderWatch *watch, s64 id, const std::set<std::string> &wanted, bool want_lost = false)
{
    Reported got;
    Arena *arena = arena_alloc();
    wait_for(
        [&] {
            FolderChangeList list = folder_watch_read(watch, arena);
            for (FolderChange *c = list.first; c; c = c->next) {
                if (c->kind == FolderChange_Overflow) continue;
                if (c->watch_id != id) got.other_ids = true;
                else if (c->kind == FolderChange_Lost) got.lost = true;
                else got.names.insert(s(c->name));
            }
            arena_clear(arena);
            for (const std::string &name : wanted)
                if (!got.names.count(name)) return false;
            return !want_lost || got.lost;
        },
        10);
    arena_release(arena);
    return got;
}

TEST(FolderWatch, ReportsTheNamesOfEditsCreationsRenamesAndDeletions)
{
    TempFolder dir;
    // Made before the watch, so the only name each step can bring is its own.
    for (const char *name : {"edited.wyn", "old.wyn", "saved.wyn", "deleted.wyn"})
        write_file(dir.at(name), "before");
    FolderWatch *watch = folder_watch_open();
    ASSERT_NE(watch, nullptr) << "no change notifications on this system";
    s64 id = folder_watch_add(watch, as_str(dir.path));
    ASSERT_GE(id, 0);
    EXPECT_EQ(folder_watch_add(watch, as_str(dir.path)), id);   // one folder, one watch
    EXPECT_EQ(folder_watch_add(watch, as_str(dir.at("missing"))), -1);

    write_file(dir.at("edited.wyn"), "after, longer");
    EXPECT_TRUE(read_until(watch, id, {"edited.wyn"}).names.count("edited.wyn")) << "an edit in place";
    write_file(dir.at("created.wyn"), "new");
    EXPECT_TRUE(read_until(watch, id, {"created.wyn"}).names.count("created.wyn")) << "a new file";
    fsys::rename(dir.at("old.wyn"), dir.at("new.wyn"));
    Reported renamed = read_until(watch, id, {"old.wyn", "new.wyn"});
    EXPECT_TRUE(renamed.names.count("old.wyn") && renamed.names.count("new.wyn")) << "a rename names both";
    // Saved as careful editors do: a new file renamed over the old.
    write_file(dir.at("saved.tmp"), "saved");
    fsys::rename(dir.at("saved.tmp"), dir.at("saved.wyn"));
    EXPECT_TRUE(read_until(watch, id, {"saved.wyn"}).names.count("saved.wyn")) << "a save by rename";
    fsys::remove(dir.at("deleted.wyn"));
    Reported deleted = read_until(watch, id, {"deleted.wyn"});
    EXPECT_TRUE(deleted.names.count("deleted.wyn")) << "a deletion";
    EXPECT_FALSE(deleted.lost || renamed.lost);
    EXPECT_FALSE(deleted.other_ids || renamed.other_ids);
    folder_watch_remove(watch, id);
}

// A folder and the folder it sits in, both watched.
struct WatchedPair {
    TempFolder dir;
    std::string sub = dir.at("sub");
    FolderWatch *watch = folder_watch_open();
    s64 parent = -1, id = -1;
    WatchedPair()
    {
        fsys::create_directory(sub);
        parent = folder_watch_add(watch, as_str(dir.path));
        id = folder_watch_add(watch, as_str(sub));
    }
    // Before the folders go: wine keeps a folder a watch holds open.
    ~WatchedPair()
    {
        folder_watch_remove(watch, id);
        folder_watch_remove(watch, parent);
    }
    // The folder made again at its path is watched anew, and its own names
    // come for its new id: a late notice of the old folder's end must not
    // end the new watch.
    void made_again()
    {
        folder_watch_remove(watch, id);
        fsys::create_directory(sub);
        id = folder_watch_add(watch, as_str(sub));
        ASSERT_GE(id, 0);
        write_file(sub + "/again.wyn", "again");
        Reported again = read_until(watch, id, {"again.wyn"});
        EXPECT_TRUE(again.names.count("again.wyn"));
        EXPECT_FALSE(again.lost);
    }
};

TEST(FolderWatch, AFolderMovedAwayEndsItsWatchAndIsWatchedAgainWhenMadeAgain)
{
    // The watch follows a folder that is no longer at its path.
    WatchedPair pair;
    ASSERT_NE(pair.watch, nullptr);
    ASSERT_GE(pair.parent, 0);
    ASSERT_GE(pair.id, 0);
    EXPECT_NE(pair.id, pair.parent);
    fsys::rename(pair.sub, pair.dir.at("moved"));
    EXPECT_TRUE(read_until(pair.watch, pair.id, {}, true).lost) << "a moved folder's watch never ended";
    pair.made_again();
}

// Left out under wine (cmake/windows.cmake), which does not end the read of
// a folder that is deleted.
TEST(FolderWatch, AFolderDeletedEndsItsWatchAndIsWatchedAgainWhenMadeAgain)
{
    WatchedPair pair;
    ASSERT_GE(pair.id, 0);
    fsys::remove_all(pair.sub);
    EXPECT_TRUE(read_until(pair.watch, pair.id, {}, true).lost) << "a deleted folder's watch never ended";
    pair.made_again();
}

TEST(FolderWatch, AWatchFollowsTheFolderNotItsName)
{
    // What the file service's identity check is for: after the folder
    // above is swapped for a copy, the watch reports edits of the moved
    // folder, and the path leads to another folder.
    TempFolder dir;
    std::string top = dir.at("top"), sub = top + "/sub";
    fsys::create_directories(sub);
    FolderWatch *watch = folder_watch_open();
    ASSERT_NE(watch, nullptr);
    s64 id = folder_watch_add(watch, as_str(sub));
    ASSERT_GE(id, 0);
    u64 before[2] = {}, after[2] = {};
    ASSERT_TRUE(folder_identity(as_str(sub), before));
    std::error_code error;
    fsys::rename(top, dir.at("away"), error);
    // Windows itself refuses to rename a folder while a folder inside it is
    // open; wine, like Linux, does not.
    if (error) GTEST_SKIP() << "this system does not rename a folder that holds a watched one: " << error.message();
    fsys::copy(dir.at("away"), top, fsys::copy_options::recursive);
    ASSERT_TRUE(folder_identity(as_str(sub), after));
    EXPECT_FALSE(before[0] == after[0] && before[1] == after[1]);
    write_file(dir.at("away/sub/moved.wyn"), "in the moved folder");
    EXPECT_TRUE(read_until(watch, id, {"moved.wyn"}).names.count("moved.wyn"));
    folder_watch_remove(watch, id);
}

struct WaitArgs {
    FolderWatch *watch;
    bool woke;
};

static void wait_on_thread(u64 raw)
{
    WaitArgs *args = (WaitArgs *)raw;
    args->woke = folder_watch_wait(args->watch, 20 * 1000);
}

TEST(FolderWatch, AWaitEndsWhenAnyOfManyFoldersChanges)
{
    // More folders than one wait on the system's events can name (64 on
    // Windows), the change in the last; the wait runs on a thread other
    // than the one that watched the folders, as it may in the file service.
    TempFolder dir;
    FolderWatch *watch = folder_watch_open();
    ASSERT_NE(watch, nullptr);
    std::vector<s64> ids;
    for (int i = 0; i < 80; i += 1) {
        std::string folder = dir.at("f" + std::to_string(i));
        fsys::create_directory(folder);
        ids.push_back(folder_watch_add(watch, as_str(folder)));
        ASSERT_GE(ids.back(), 0) << folder;
    }
    Arena *arena = arena_alloc();
    folder_watch_read(watch, arena);
    EXPECT_FALSE(folder_watch_wait(watch, 20)) << "a wait woke with nothing changed";

    WaitArgs args = {watch, false};
    TestThread *waiter = test_thread_start((u64)&args, wait_on_thread);
    write_file(dir.at("f79/late.wyn"), "late");
    ASSERT_TRUE(test_thread_join(waiter)) << "the wait never ended";
    EXPECT_TRUE(args.woke) << "the wait ran out its time instead of waking at the change";
    EXPECT_TRUE(read_until(watch, ids.back(), {"late.wyn"}).names.count("late.wyn"));
    arena_release(arena);
    for (s64 id : ids) folder_watch_remove(watch, id);
}

//- the file service on notifications alone

// One service per process (ctest runs each test in its own on Linux; the
// Windows build runs the binary whole): each test works in a subfolder of
// its own, and checks that the scanner made no full pass meanwhile.
struct NotifiedTest : ::testing::Test {
    static TempFolder *root;
    static int serial;
    FileService *fs = nullptr;
    std::string folder;
    u64 passes_before = 0;
    static void SetUpTestSuite() { root = new TempFolder(); }
    static void TearDownTestSuite() { delete root; }
    void SetUp() override
    {
        FileServiceConfig config = {};
        config.full_pass_ms = 3600 * 1000;
        fs = fs_start_with(&config);
        if (fs->config.full_pass_ms != config.full_pass_ms) GTEST_SKIP() << "the service was started by another test";
        folder = root->at("t" + std::to_string(serial++));
        ASSERT_TRUE(fsys::create_directory(folder));
        passes_before = atomic_load_u64(&fs->full_passes);
    }
    void TearDown() override
    {
        if (fs && !IsSkipped()) {
            EXPECT_EQ(atomic_load_u64(&fs->full_passes), passes_before) << "a full pass ran";
        }
    }
    std::string at(const std::string &rest) const { return folder + "/" + rest; }
    // The scanner takes new files on its next tick and only then watches
    // their folders: two ticks later every folder read so far is watched,
    // or polled when it cannot be.
    bool watching_all()
    {
        u64 ticks = atomic_load_u64(&fs->scan_ticks);
        return wait_for([&] { return atomic_load_u64(&fs->scan_ticks) >= ticks + 2; }) &&
               wait_for([&] { return fs_notifications_active(fs); });
    }
};
TempFolder *NotifiedTest::root;
int NotifiedTest::serial;

TEST_F(NotifiedTest, EditsNewFilesRenamesAndDeletionsAreSeen)
{
    std::string edited = at("edited.wyn"), later = at("later.wyn"), from = at("from.wyn"), to = at("to.wyn");
    write_file(edited, "first");
    write_file(from, "moving");
    ASSERT_EQ(text_of(edited), "first");
    ASSERT_EQ(text_of(later), "");   // missing: empty until written
    ASSERT_EQ(text_of(from), "moving");
    ASSERT_EQ(text_of(to), "");
    ASSERT_TRUE(watching_all()) << "the folder was never watched";

    write_file(edited, "second, longer");
    EXPECT_TRUE(wait_for([&] { return text_of(edited) == "second, longer"; })) << "an edit in place";
    ASSERT_TRUE(file_write_all(as_str(edited), as_str(std::string("third")), FileWrite_Replace));
    EXPECT_TRUE(wait_for([&] { return text_of(edited) == "third"; })) << "a save by rename";
    write_file(later, "now it exists");
    EXPECT_TRUE(wait_for([&] { return text_of(later) == "now it exists"; })) << "a new file";
    fsys::rename(from, to);
    EXPECT_TRUE(wait_for([&] { return text_of(to) == "moving" && text_of(from).empty(); })) << "a rename";
    fsys::remove(later);
    EXPECT_TRUE(wait_for([&] { return text_of(later).empty(); })) << "a deletion";
}

TEST_F(NotifiedTest, AFolderDeletedAndMadeAgainIsWatchedAgain)
{
    std::string deep = at("sub/deeper.wyn");
    fsys::create_directory(at("sub"));
    write_file(deep, "one");
    ASSERT_EQ(text_of(deep), "one");
    ASSERT_TRUE(watching_all());
    fsys::remove_all(at("sub"));
    EXPECT_TRUE(wait_for([&] { return text_of(deep).empty(); }));
    fsys::create_directory(at("sub"));
    write_file(deep, "two");
    EXPECT_TRUE(wait_for([&] { return text_of(deep) == "two"; }));
    EXPECT_TRUE(watching_all()) << "the folder made again was never watched";
    write_file(deep, "changed under the new watch");
    EXPECT_TRUE(wait_for([&] { return text_of(deep) == "changed under the new watch"; }));
}

TEST_F(NotifiedTest, AFolderMovedAwayAndCopiedBackIsWatchedAgain)
{
    // The moved folder's own watch ends (its parent is watched too: on
    // Windows a moved folder tells its own watch nothing), which has the
    // service check the folders below it for a new identity.
    std::string top = at("wyn_files"), sub = top + "/sub", page = sub + "/page.wyn";
    fsys::create_directories(sub);
    write_file(at("keep.wyn"), "keeps the parent watched");
    write_file(top + "/top.wyn", "top");
    write_file(page, "before the move");
    ASSERT_EQ(text_of(at("keep.wyn")), "keeps the parent watched");
    ASSERT_EQ(text_of(top + "/top.wyn"), "top");
    ASSERT_EQ(text_of(page), "before the move");
    ASSERT_TRUE(watching_all());
    u64 rewatched = atomic_load_u64(&fs->rewatches);
    std::error_code error;
    fsys::rename(top, at("away"), error);
    if (error) GTEST_SKIP() << "this system does not rename a folder that holds a watched one: " << error.message();
    fsys::copy(at("away"), top, fsys::copy_options::recursive);
    EXPECT_TRUE(wait_for([&] { return atomic_load_u64(&fs->rewatches) > rewatched; }))
        << "the new folder was never watched";
    write_file(page, "edited in the copy");
    EXPECT_TRUE(wait_for([&] { return text_of(page) == "edited in the copy"; }));
}
