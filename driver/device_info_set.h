// Scoped ownership of a Setup API device information set: destroyed on every path out of its
// scope, or earlier with Destroy.
#pragma once

#include "driver_platform.h"

class cDeviceInfoSet {
  public:
    // Takes the result of SetupDiGetClassDevsW, INVALID_HANDLE_VALUE when that failed.
    explicit cDeviceInfoSet(HDEVINFO hSet) : mhSet(hSet) {}
    ~cDeviceInfoSet() { Destroy(); }
    cDeviceInfoSet(const cDeviceInfoSet&) = delete;
    cDeviceInfoSet& operator=(const cDeviceInfoSet&) = delete;

    bool IsValid() const { return mhSet != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return mhSet; }

    void Destroy() {
        if (IsValid()) {
            SetupDiDestroyDeviceInfoList(mhSet);
            mhSet = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HDEVINFO mhSet;
};
