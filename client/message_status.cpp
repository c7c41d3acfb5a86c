// What the statuses a program meets through the sensor messages mean.
#include <cstdio>

#include "sensor_message.h"

namespace zntr::sensor_message {
namespace {

struct StatusText {
    HRESULT status;
    const char* name;
    const char* meaning;
};

constexpr StatusText kStatusTexts[] = {
    {S_OK, "S_OK", "done"},
    {S_FALSE, "S_FALSE", "done, with an error value under some key or nothing to change"},
    {E_UNEXPECTED, "E_UNEXPECTED",
     "the sensor did not expect it (no matching earlier call, or not set up)"},
    {E_INVALIDARG, "E_INVALIDARG", "a malformed message or an invalid argument"},
    {E_POINTER, "E_POINTER", "a required pointer was missing"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory"},
    {E_FAIL, "E_FAIL", "unspecified failure"},
    {E_NOTIMPL, "E_NOTIMPL", "not implemented"},
    {E_ACCESSDENIED, "E_ACCESSDENIED", "a read-only request may not change the sensor"},
    {STG_E_ACCESSDENIED, "STG_E_ACCESSDENIED",
     "the device refused the open: a raw NMEA stream is running"},
    {kStatusNotSupported, "ERROR_NOT_SUPPORTED",
     "not supported (an unknown command, message version or control code)"},
    {kStatusBufferTooSmall, "ERROR_INSUFFICIENT_BUFFER", "the answer does not fit the buffer"},
    {kStatusUnknownSensor, "ERROR_NOT_FOUND", "no such sensor or key"},
    {kStatusNotReady, "ERROR_NOT_READY", "the sensor class extension is not initialised"},
    {kStatusWrongState, "ERROR_INVALID_STATE",
     "not connected to the sensor (or not subscribed to its events)"},
    {kStatusTooManyWaits, "ERROR_BUSY", "too many waits for events pending on this file"},
    {kStatusEnded, "ERROR_OPERATION_ABORTED",
     "ended: no subscription left, the file closed or the device went away"},
    {kStatusUnencodable, "ERROR_INVALID_DATA", "the driver's answer cannot be put in a message"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "ERROR_FILE_NOT_FOUND", "not found"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE", "a value of a type the messages do not carry"},
};

}  // namespace

std::string DescribeStatus(HRESULT status) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(status));
    for (const StatusText& text : kStatusTexts) {
        if (text.status == status) {
            return std::string(text.name) + " (" + code + "): " + text.meaning;
        }
    }
    return std::string(code) + (FAILED(status) ? ": failure" : ": success");
}

}  // namespace zntr::sensor_message
