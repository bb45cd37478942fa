// Linked into every test program of the ThreadSanitizer build only.
//
// QProcess starts a child with clone(CLONE_VM | CLONE_VFORK): the child runs in the parent's
// memory, on the parent's thread-local storage, until it execs. ThreadSanitizer intercepts
// clone and treats every child as a forked copy: in the child it runs its after-fork
// bookkeeping, which, when the parent has several threads, switches the calling thread's
// synchronisation tracking off for good. Sharing memory, that thread state is the parent's
// own, so after the first QProcess::start the starting thread's mutexes, condition variables
// and thread joins go unseen, and every hand-over between it and another thread is reported
// as a race.
//
// Here such a clone is made without CLONE_VM. The child then gets its own copy of memory, as
// after fork(), and the bookkeeping changes only that copy. CLONE_VFORK stays, so the parent
// still waits until the child has exec'd or exited, as QProcess expects; its child already
// works without shared memory, since Qt falls back to fork() on kernels without pidfds.

#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdarg>

namespace {

using CloneFunction = int (*)(int (*)(void*), void*, int, void*, ...);

CloneFunction nextClone()
{
    // The next definition after this program's is ThreadSanitizer's interceptor.
    static const auto next = reinterpret_cast<CloneFunction>(::dlsym(RTLD_NEXT, "clone"));
    return next;
}

bool startsAProcessInSharedMemory(int flags)
{
    return (flags & CLONE_VM) != 0 && (flags & CLONE_VFORK) != 0 && (flags & CLONE_THREAD) == 0;
}

}  // namespace

extern "C" int clone(int (*function)(void*), void* stack, int flags, void* argument, ...)
{
    // The optional arguments are read as clone(2) defines them: parent_tid, tls, child_tid.
    va_list optional;
    va_start(optional, argument);
    auto* parentTid = va_arg(optional, pid_t*);
    void* tls = va_arg(optional, void*);
    auto* childTid = va_arg(optional, pid_t*);
    va_end(optional);

    const CloneFunction next = nextClone();
    if (next == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    if (startsAProcessInSharedMemory(flags)) {
        flags &= ~CLONE_VM;
    }
    return next(function, stack, flags, argument, parentTid, tls, childTid);
}
