// The base of the driver-side doubles (the test driver module, the fake sensor driver, the fake
// class extension): every call is recorded as one line of text, may be held at a gate the test
// closed, and is answered with the result the test set for its method.
//
//   recorder.SetAnswer("PostEvent", E_FAIL);      // every later PostEvent fails
//   recorder.CloseGate("OnClientConnect");        // such calls wait until OpenGate
//   recorder.WaitForCalls("OnClientConnect", 1);  // one has arrived (and waits at the gate)
//   recorder.OpenGate("OnClientConnect");
//
// A call's method is the text of its line before "(". Thread-safe: doubles are called from the
// framework's threads, the event thread and the test at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zntr::test {

using HresultValue = long;  // an HRESULT, without the platform's headers

class CallRecorder {
  public:
    // Records `call` ("Method(arguments)"), waits while the method's gate is closed, and returns
    // the answer set for the method (0, S_OK, unless SetAnswer said otherwise).
    HresultValue Record(std::string call);

    void SetAnswer(std::string_view method, HresultValue answer);
    void CloseGate(std::string_view method);
    void OpenGate(std::string_view method);

    // Waits until at least `count` calls of `method` were recorded; whether they were in time.
    bool WaitForCalls(std::string_view method, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    std::vector<std::string> Calls() const;
    // The calls of one method, in order.
    std::vector<std::string> Calls(std::string_view method) const;
    std::size_t Count(std::string_view method) const;
    void Clear();
    // Back to a new recorder's state: no calls, no answers, every gate open.
    void Reset();

  private:
    static std::string MethodOf(std::string_view call);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::map<std::string, HresultValue, std::less<>> answers_;
    std::set<std::string, std::less<>> closedGates_;
};

}  // namespace zntr::test
