#include <pthread.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/threads.h"

struct ThreadObject {
    pthread_t thread;
    void (*run)(void*);
    void* argument;
    bool behind;
};

struct LockObject {
    pthread_mutex_t mutex;
};

struct SemaphoreObject {
    sem_t semaphore;
};

namespace {

void* Run(void* object) {
    auto* thread = static_cast<ThreadObject*>(object);
    // Linux gives each thread a niceness of its own; elsewhere this may
    // apply to the process or fail, and the thread merely keeps its place.
    if (thread->behind) setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    thread->run(thread->argument);
    return nullptr;
}

}  // namespace

ThreadHandle StartThread(void (*run)(void*), void* argument, bool behind) {
    auto* thread = new (std::nothrow) ThreadObject{{}, run, argument, behind};
    if (thread == nullptr) return nullptr;
    if (pthread_create(&thread->thread, nullptr, Run, thread) != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void JoinThread(ThreadHandle thread) {
    if (thread == nullptr) return;
    pthread_join(thread->thread, nullptr);
    delete thread;
}

LockHandle NewLock() {
    auto* lock = new (std::nothrow) LockObject;
    if (lock != nullptr && pthread_mutex_init(&lock->mutex, nullptr) != 0) {
        delete lock;
        return nullptr;
    }
    return lock;
}

void FreeLock(LockHandle lock) {
    if (lock == nullptr) return;
    pthread_mutex_destroy(&lock->mutex);
    delete lock;
}

void Acquire(LockHandle lock) { pthread_mutex_lock(&lock->mutex); }

void Release(LockHandle lock) { pthread_mutex_unlock(&lock->mutex); }

SemaphoreHandle NewSemaphore() {
    auto* semaphore = new (std::nothrow) SemaphoreObject;
    if (semaphore != nullptr && sem_init(&semaphore->semaphore, 0, 0) != 0) {
        delete semaphore;
        return nullptr;
    }
    return semaphore;
}

void FreeSemaphore(SemaphoreHandle semaphore) {
    if (semaphore == nullptr) return;
    sem_destroy(&semaphore->semaphore);
    delete semaphore;
}

void Post(SemaphoreHandle semaphore, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) sem_post(&semaphore->semaphore);
}

void WaitFor(SemaphoreHandle semaphore) {
    // A signal handler (the interrupt) may cut the wait short.
    while (sem_wait(&semaphore->semaphore) != 0 && errno == EINTR) {
    }
}
