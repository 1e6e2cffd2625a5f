#pragma once
/// Threads and synchronisation with the phone OS's calls and values: kernel objects
/// (threads, events, mutexes) behind HANDLEs, waits with time-outs, critical sections,
/// interlocked operations, the tick count and Sleep.
///
/// Handles are checked: a stale or foreign HANDLE makes a call fail with
/// ERROR_INVALID_HANDLE instead of touching freed memory. An object lives until its last
/// handle is closed and (for a thread) the thread has ended.

#include "platform/errors.h"
#include "platform/types.h"

using LPVOID = void*;
using LPDWORD = DWORD*;
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

// Results of the wait calls.
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

inline constexpr DWORD STILL_ACTIVE = 0x00000103;
inline constexpr DWORD CREATE_SUSPENDED = 0x00000004;

// Thread priorities; accepted and remembered, scheduling stays the system's.
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_IDLE = -15;

/// Starts `start(parameter)` on a new thread. The handle is signalled when the thread
/// ends; `threadId` (optional) receives its id. CREATE_SUSPENDED holds it until
/// ResumeThread. Returns nullptr on failure.
HANDLE CreateThread(void* securityAttributes, DWORD stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId);
/// Releases a thread made with CREATE_SUSPENDED; returns the previous suspend count
/// (1 for a held thread, 0 otherwise), or 0xFFFFFFFF on a bad handle.
DWORD ResumeThread(HANDLE thread);
/// STILL_ACTIVE while the thread runs, then its return value (or ExitThread's code).
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
/// Ends the calling thread (which must have been made by CreateThread) with `exitCode`.
[[noreturn]] void ExitThread(DWORD exitCode);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
/// Non-zero id of the calling thread, unique within the process.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

/// Events. An auto-reset event releases exactly one waiter per SetEvent and resets
/// itself; a manual-reset event stays signalled until ResetEvent. A non-empty `name`
/// returns the existing event of that name in this process (GetLastError() is then
/// ERROR_ALREADY_EXISTS).
HANDLE CreateEvent(void* securityAttributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
/// Releases the current waiters (all for manual reset, one for auto reset) and leaves
/// the event not signalled.
BOOL PulseEvent(HANDLE event);

/// Re-entrant mutex: the owner may wait on it again; it is free after as many
/// ReleaseMutex calls. A mutex whose owner ended while holding it is handed to the next
/// waiter with WAIT_ABANDONED.
HANDLE CreateMutex(void* securityAttributes, BOOL initialOwner, LPCWSTR name);
/// FALSE (ERROR_NOT_OWNER) when the calling thread does not own the mutex.
BOOL ReleaseMutex(HANDLE mutex);

/// Waits for a thread, event or mutex. `milliseconds` may be INFINITE.
/// WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_ABANDONED or WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
/// With `waitAll` FALSE: WAIT_OBJECT_0 + index of the first signalled object (lowest
/// index wins). With TRUE: all objects are acquired together, atomically.
/// WAIT_ABANDONED_0 + index when a mutex was abandoned.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);

/// Closes a handle of any kernel object (threads, events, mutexes).
BOOL CloseHandle(HANDLE object);

/// Milliseconds from a monotonic clock; wraps around after 49.7 days like the phone's.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);

/// Re-entrant lock for one process; no time-out.
struct CRITICAL_SECTION {
  void* impl = nullptr;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

/// Atomic operations on 32-bit values (sequentially consistent). Increment and Decrement
/// return the new value; Exchange, CompareExchange and ExchangeAdd the previous one.
LONG InterlockedIncrement(volatile LONG* target);
LONG InterlockedDecrement(volatile LONG* target);
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);
LONG InterlockedExchangeAdd(volatile LONG* target, LONG value);

// The wide-character names.
inline constexpr auto* CreateEventW = &CreateEvent;
inline constexpr auto* CreateMutexW = &CreateMutex;
