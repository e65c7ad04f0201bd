// Per-thread nice values stand in for the platform's thread priorities. Linux keeps a nice value for
// every thread (setpriority on a thread id), so one worker can be lowered without touching the rest
// of the process. An unprivileged process may only make a thread nicer; a raise beyond the soft
// limit (RLIMIT_NICE) is refused with EPERM, which we report as false.
#include "platform/thread_priority.h"

#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tunefold::platform {

namespace {

thread_local int appliedPriority = THREAD_PRIORITY_NORMAL;

struct Step {
    int priority;
    int nice;
};
// Idle is the nicest a thread can be; time critical the most favoured. The small steps keep their
// order and leave room for the scheduler to tell them apart.
constexpr Step kSteps[] = {
    {THREAD_PRIORITY_IDLE, 19},           {THREAD_PRIORITY_LOWEST, 10},
    {THREAD_PRIORITY_BELOW_NORMAL, 5},    {THREAD_PRIORITY_NORMAL, 0},
    {THREAD_PRIORITY_ABOVE_NORMAL, -5},   {THREAD_PRIORITY_HIGHEST, -10},
    {THREAD_PRIORITY_TIME_CRITICAL, -20},
};

bool Apply(NativeThreadId thread, int priority) {
    if (thread <= 0) {
        return false;
    }
    const int nice = NiceValueOf(priority);
    errno = 0;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) == 0;
}

} // namespace

int NiceValueOf(int priority) {
    // Values between the named ones go to the nearest step, so any platform value maps sensibly.
    const Step* best = &kSteps[0];
    for (const Step& s : kSteps) {
        if (std::abs(s.priority - priority) < std::abs(best->priority - priority)) {
            best = &s;
        }
    }
    return best->nice;
}

NativeThreadId CurrentNativeThreadId() {
    return static_cast<NativeThreadId>(syscall(SYS_gettid));
}

bool SetCurrentThreadPriority(int priority) {
    if (!Apply(CurrentNativeThreadId(), priority)) {
        return false;
    }
    appliedPriority = priority;
    return true;
}

int CurrentThreadPriority() {
    return appliedPriority;
}

bool SetThreadPriorityOf(NativeThreadId thread, int priority) {
    if (thread == CurrentNativeThreadId()) {
        return SetCurrentThreadPriority(priority);
    }
    return Apply(thread, priority);
}

int ThreadPriorityOf(NativeThreadId thread) {
    if (thread <= 0) {
        return THREAD_PRIORITY_NORMAL;
    }
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (nice == -1 && errno != 0) {
        return THREAD_PRIORITY_NORMAL;
    }
    const Step* best = &kSteps[0];
    for (const Step& s : kSteps) {
        if (std::abs(s.nice - nice) < std::abs(best->nice - nice)) {
            best = &s;
        }
    }
    return best->priority;
}

void NameCurrentThread(const char* name) {
    char cut[16] = {};
    for (std::size_t i = 0; i + 1 < sizeof cut && name[i] != '\0'; ++i) {
        cut[i] = name[i];
    }
    pthread_setname_np(pthread_self(), cut);
}

} // namespace tunefold::platform
