// One initialised sensor in gpSensorDDI for as long as it lives, on a framework device of the
// host's own objects, with a data and a state event and, when asked, one subscriber: what the
// line sink writes into when the receive loop runs.
#pragma once

#include "sensor_ddi.h"

namespace zntr::bench {

class BenchSensor {
  public:
    explicit BenchSensor(bool subscribed);
    ~BenchSensor();
    BenchSensor(const BenchSensor&) = delete;
    BenchSensor& operator=(const BenchSensor&) = delete;
    bool ok() const { return ok_; }

  private:
    Microsoft::WRL::ComPtr<IWDFDevice> device_;
    HANDLE dataEvent_ = nullptr;
    HANDLE stateEvent_ = nullptr;
    bool ok_ = false;
};

}  // namespace zntr::bench
