// Threads: creation, exit codes, and TerminateThread.
//
// TerminateThread cannot stop a thread at an arbitrary instruction here as it does on Windows.
// The stand-in ends the target at its next blocking platform call (a sleep, any wait, a socket
// call, or while it waits to enter a critical section), unwinding its stack so that every scoped
// guard on it releases what it held, and returns once the target no longer runs. Driver code
// therefore must not catch every exception (`catch (...)`) on a thread that may be terminated,
// and must not make blocking platform calls from destructors.
#pragma once

#include "standin/synchapi.h"
#include "standin/timeapi.h"
#include "standin/windef.h"

typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

// Refused by the stand-in's CreateThread (ERROR_INVALID_PARAMETER): no program creates a thread
// suspended.
#define CREATE_SUSPENDED 0x00000004u
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u
// GetExitCodeThread's answer while the thread runs (STATUS_PENDING).
#define STILL_ACTIVE 259u

extern "C" {
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
// Creation and exit times as FILETIMEs (UTC), and the CPU time the thread has used in kernel
// and in user mode, in 100-nanosecond units. The exit time means nothing while the thread runs
// (here it is 0). The stand-in reports all CPU time as user time (kernel time 0).
BOOL GetThreadTimes(HANDLE hThread, LPFILETIME lpCreationTime, LPFILETIME lpExitTime,
                    LPFILETIME lpKernelTime, LPFILETIME lpUserTime);
}
