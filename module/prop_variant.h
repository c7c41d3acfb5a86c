// A PROPVARIANT on the stack that is cleared on every path out of its scope.
#pragma once

#include "driver_platform.h"

class cPropVariant : public PROPVARIANT {
  public:
    cPropVariant() { PropVariantInit(this); }
    ~cPropVariant() { PropVariantClear(this); }
    cPropVariant(const cPropVariant&) = delete;
    cPropVariant& operator=(const cPropVariant&) = delete;

    // Frees what the value holds; it is VT_EMPTY again.
    void Clear() { PropVariantClear(this); }
};
