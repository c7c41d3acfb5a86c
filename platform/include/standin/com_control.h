// Controls of the stand-in's COM library that have no Windows counterpart, for tests: making the
// creation of a chosen class, or the calls of one method of the portable-device collections,
// fail, so that the failure paths of code that creates and fills objects can be run. Driver code
// never uses these.
#pragma once

#include <functional>
#include <string>

#include "standin/combaseapi.h"

namespace zntr::platform {

// Consulted by CoCreateInstance before it looks the class up: a failure status it returns is the
// result of the creation, S_OK lets the creation go ahead. Calls are serialised.
using ComCreationHook = std::function<HRESULT(REFCLSID rclsid, REFIID riid)>;

// While it lives, creations of one class fail with the given status after a number of them
// have succeeded (0: the next one fails). Every later creation of the class fails too, until the
// object goes and puts the previous hook back. Creations of other classes go to the previous
// hook, so that failures of several classes can be combined; objects must go in the reverse
// order of their making.
class ComCreationFailure {
  public:
    ComCreationFailure(REFCLSID rclsid, HRESULT failure, unsigned successesFirst = 0);
    ~ComCreationFailure();
    ComCreationFailure(const ComCreationFailure&) = delete;
    ComCreationFailure& operator=(const ComCreationFailure&) = delete;

    // How many creations of the class were failed so far.
    unsigned Failed() const;

  private:
    struct State;
    State* state_;
};

// While it lives, calls of one method of the stand-in's PortableDeviceValues,
// PortableDeviceKeyCollection or PortableDeviceValuesCollection, named like
// "IPortableDeviceValues::SetValue", fail with the given status after a number of them have
// succeeded (0: the next one fails), whoever the caller. One at a time: a later one replaces it.
// The failing call changes nothing.
class ComMethodFailure {
  public:
    ComMethodFailure(std::string method, HRESULT failure, unsigned successesFirst = 0);
    ~ComMethodFailure();
    ComMethodFailure(const ComMethodFailure&) = delete;
    ComMethodFailure& operator=(const ComMethodFailure&) = delete;
};

}  // namespace zntr::platform
