// Scoped ownership of a critical section: entered on construction, left on every path out of
// the scope, exceptions included.
#pragma once

#include "driver_platform.h"

class cCriticalSectionLock {
  public:
    explicit cCriticalSectionLock(CRITICAL_SECTION& section) : mSection(section) {
        EnterCriticalSection(&mSection);
    }
    ~cCriticalSectionLock() { LeaveCriticalSection(&mSection); }

    cCriticalSectionLock(const cCriticalSectionLock&) = delete;
    cCriticalSectionLock& operator=(const cCriticalSectionLock&) = delete;

  private:
    CRITICAL_SECTION& mSection;
};
