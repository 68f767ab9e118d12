// Threads and the two synchronisation objects the scan's readers need, one
// implementation per platform family: CreateThread, critical sections and
// semaphores on Windows (the 95/98/Me family included, which has neither
// condition variables nor the -win32 flavour's std::thread), pthreads and
// POSIX semaphores elsewhere.
#pragma once

#include <cstdint>

struct ThreadObject;
using ThreadHandle = ThreadObject*;
// Runs run(argument) on a new thread; null when none could be started.
// With behind set, the thread yields the processor to the program's other
// threads whenever both could run.
ThreadHandle StartThread(void (*run)(void*), void* argument, bool behind = false);
// Waits for the thread to return, and frees it.
void JoinThread(ThreadHandle thread);

struct LockObject;
using LockHandle = LockObject*;
LockHandle NewLock();  // null when none could be made
void FreeLock(LockHandle lock);
void Acquire(LockHandle lock);
void Release(LockHandle lock);

// A counting semaphore: Post adds one, WaitFor takes one, waiting while
// there is none.
struct SemaphoreObject;
using SemaphoreHandle = SemaphoreObject*;
SemaphoreHandle NewSemaphore();  // starts at 0; null when none could be made
void FreeSemaphore(SemaphoreHandle semaphore);
void Post(SemaphoreHandle semaphore, uint32_t count = 1);
void WaitFor(SemaphoreHandle semaphore);
