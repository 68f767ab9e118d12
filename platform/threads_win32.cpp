#include <windows.h>

#include <new>

#include "platform/threads.h"

struct ThreadObject {
    HANDLE thread;
    void (*run)(void*);
    void* argument;
};

struct LockObject {
    CRITICAL_SECTION section;
};

struct SemaphoreObject {
    HANDLE semaphore;
};

namespace {

DWORD WINAPI Run(LPVOID object) {
    auto* thread = static_cast<ThreadObject*>(object);
    thread->run(thread->argument);
    return 0;
}

}  // namespace

ThreadHandle StartThread(void (*run)(void*), void* argument, bool behind) {
    auto* thread = new (std::nothrow) ThreadObject{nullptr, run, argument};
    if (thread == nullptr) return nullptr;
    // Windows 95/98/Me want somewhere to put the thread's identifier.
    DWORD identifier = 0;
    thread->thread = CreateThread(nullptr, 0, Run, thread, 0, &identifier);
    if (thread->thread == nullptr) {
        delete thread;
        return nullptr;
    }
    if (behind) SetThreadPriority(thread->thread, THREAD_PRIORITY_BELOW_NORMAL);
    return thread;
}

void JoinThread(ThreadHandle thread) {
    if (thread == nullptr) return;
    WaitForSingleObject(thread->thread, INFINITE);
    CloseHandle(thread->thread);
    delete thread;
}

LockHandle NewLock() {
    auto* lock = new (std::nothrow) LockObject;
    if (lock != nullptr) InitializeCriticalSection(&lock->section);
    return lock;
}

void FreeLock(LockHandle lock) {
    if (lock == nullptr) return;
    DeleteCriticalSection(&lock->section);
    delete lock;
}

void Acquire(LockHandle lock) { EnterCriticalSection(&lock->section); }

void Release(LockHandle lock) { LeaveCriticalSection(&lock->section); }

SemaphoreHandle NewSemaphore() {
    auto* semaphore = new (std::nothrow) SemaphoreObject{CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr)};
    if (semaphore != nullptr && semaphore->semaphore == nullptr) {
        delete semaphore;
        return nullptr;
    }
    return semaphore;
}

void FreeSemaphore(SemaphoreHandle semaphore) {
    if (semaphore == nullptr) return;
    CloseHandle(semaphore->semaphore);
    delete semaphore;
}

void Post(SemaphoreHandle semaphore, uint32_t count) {
    ReleaseSemaphore(semaphore->semaphore, static_cast<LONG>(count), nullptr);
}

void WaitFor(SemaphoreHandle semaphore) { WaitForSingleObject(semaphore->semaphore, INFINITE); }
