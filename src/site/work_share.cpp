// site/work_share.cpp: one task on offer between the workers.
#include "site/work_share.h"

WorkShare *work_share_alloc(Arena *arena, void (*wake)(void *user), void *wake_user)
{
    WorkShare *share = push_struct<WorkShare>(arena);
    if (!share) return nullptr;
    share->lock = cs_alloc();
    share->done = cv_alloc();
    if (!share->lock || !share->done) return nullptr;
    share->wake = wake;
    share->wake_user = wake_user;
    return share;
}

bool work_share_offer(WorkShare *share, SharedTask *task)
{
    cs_enter(share->lock);
    bool open = !share->offered;
    if (open) {
        task->state = SharedTask_Offered;
        share->offered = task;
        atomic_store_u64(&share->pending, 1);
    }
    cs_leave(share->lock);
    if (open && share->wake) share->wake(share->wake_user);
    return open;
}

void work_share_finish(WorkShare *share, SharedTask *task, Arena *scratch)
{
    cs_enter(share->lock);
    bool mine = task->state == SharedTask_Offered;
    if (mine) {
        share->offered = nullptr;
        atomic_store_u64(&share->pending, 0);
        task->state = SharedTask_Running;
    } else {
        while (task->state != SharedTask_Done) wait_cs(share->done, share->lock, u64_max);
    }
    cs_leave(share->lock);
    if (!mine) return;
    atomic_add_u64(&share->kept, 1);
    task->run(task->user, scratch);
    task->state = SharedTask_Done;   // nobody else holds it any more
}

bool work_share_help(WorkShare *share, Arena *scratch)
{
    if (!atomic_load_u64(&share->pending)) return false;
    cs_enter(share->lock);
    SharedTask *task = share->offered;
    if (task) {
        share->offered = nullptr;
        atomic_store_u64(&share->pending, 0);
        task->state = SharedTask_Running;
    }
    cs_leave(share->lock);
    if (!task) return false;
    atomic_add_u64(&share->taken, 1);
    task->run(task->user, scratch);
    // The owner may free the task as soon as it sees Done: nothing of it is
    // touched after.
    cs_enter(share->lock);
    task->state = SharedTask_Done;
    cv_broadcast(share->done);
    cs_leave(share->lock);
    return true;
}
