#include "test_driver.h"

namespace zntr::test {

CallRecorder& TestDriverCalls() {
    static CallRecorder calls;
    return calls;
}

std::string TestDriverModule(const std::string& build) {
    return std::string(ZNTR_TEST_MODULES) + "/" + build + ".so";
}

}  // namespace zntr::test

// What the test driver module calls for each of its callbacks.
extern "C" __attribute__((visibility("default"))) long ZntrTestDriverRecord(const char* call) {
    return zntr::test::TestDriverCalls().Record(call);
}
