// Thread priorities: the platform's priority values (-15 idle .. 15 time critical) mapped onto this
// OS as well as it allows without privileges. A refused change is reported as false and otherwise
// ignored by the callers.
#pragma once

namespace tunefold::platform {

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// The OS's own identifier of a thread (a kernel thread id here); 0 means none.
using NativeThreadId = long;

// The identifier of the calling thread.
NativeThreadId CurrentNativeThreadId();

// Applies `priority` to the calling thread; false when the OS refused.
bool SetCurrentThreadPriority(int priority);
// The value last applied successfully to the calling thread (THREAD_PRIORITY_NORMAL at first).
int CurrentThreadPriority();

// Applies `priority` to another live thread of this process; false when refused or unknown.
bool SetThreadPriorityOf(NativeThreadId thread, int priority);
// The priority value the OS currently gives `thread` (the nearest of the seven values).
int ThreadPriorityOf(NativeThreadId thread);

// The OS scheduling value (here: the nice value) a priority value maps to.
int NiceValueOf(int priority);

// Names the calling thread as tools such as top and gdb show it (cut to the OS's 15 characters).
void NameCurrentThread(const char* name);

} // namespace tunefold::platform
