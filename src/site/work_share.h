// site/work_share.h: a worker with a large job hands half of it to a worker
// that has nothing else to do.
//
// A cold build ends with the index document, which lists every other one:
// the largest pages of the site, built when the queue is empty. One worker
// built them while the other slept. Now a worker building a large
// document's pages offers the smartphone half; a worker that comes to the
// top of its loop takes it, and the owner builds the desktop half
// meanwhile. An offer nobody took is run by its owner: nothing waits for a
// worker that may never come, so a build with one worker, or with every
// worker busy, goes on as before.
//
// Threads: any worker may offer, take and finish. One task is on offer at
// a time; a second offer is refused and its owner runs the task itself.
// A task must not offer again (the worker that took it would wait for
// itself), and must not touch what its owner builds meanwhile except to
// read it.
#pragma once
#include "os/work_queue.h"

struct SharedTask {
    void (*run)(void *user, Arena *scratch);   // `scratch`: the running thread's own
    void *user;
    u64 state;   // SharedTaskState, under the share's lock
};

enum SharedTaskState : u64 {
    SharedTask_Idle = 0,
    SharedTask_Offered = 1,
    SharedTask_Running = 2,
    SharedTask_Done = 3,
};

struct WorkShare {
    CriticalSection *lock;
    CondVar *done;                 // broadcast when a taken task ends
    SharedTask *offered;           // under the lock
    u64 pending;                   // atomic: an offer stands (a look without the lock)
    void (*wake)(void *user);      // asks an idle worker to look (may be null)
    void *wake_user;
    u64 taken;                     // atomic: tasks run by a worker other than their owner
    u64 kept;                      // atomic: offers their owners ran themselves
};

// Null when the arena or the system refuses a lock.
WorkShare *work_share_alloc(Arena *arena, void (*wake)(void *user), void *wake_user);

// Puts the task on offer and wakes a worker. False when another task is on
// offer: the caller runs this one itself (and need not finish it).
bool work_share_offer(WorkShare *share, SharedTask *task);
// Ends an offer: runs the task on the calling thread when nobody took it,
// else waits until the worker that did is done. Either way the task has
// run when this returns.
void work_share_finish(WorkShare *share, SharedTask *task, Arena *scratch);
// For a worker between jobs: runs the task on offer, if any. True when it
// ran one.
bool work_share_help(WorkShare *share, Arena *scratch);
