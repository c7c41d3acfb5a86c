// Critical sections with Windows semantics: recursive (the owner may enter again and leaves once
// per enter), no fairness among waiters.
#pragma once

#include "standin/windef.h"

// The lock's state lives inside the structure, so initialising one never allocates and, as on
// Windows since Vista, never fails.
typedef struct _RTL_CRITICAL_SECTION {
    alignas(16) unsigned char Opaque[160];
} RTL_CRITICAL_SECTION, CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

extern "C" {
void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
}
