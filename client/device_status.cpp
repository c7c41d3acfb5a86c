// The meaning of the statuses that the host and the framework answer with on their own account.
#include <cstdio>

#include "device_error.h"
#include "host_status.h"
#include "sensor_message.h"

namespace zntr::client {
namespace {

struct StatusMeaning {
    HRESULT status;
    const char* name;
    const char* meaning;
};

constexpr StatusMeaning kHostStatuses[] = {
    {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), "ERROR_DEVICE_NOT_CONNECTED",
     "the host went away"},
    {HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED), "ERROR_DEVICE_REMOVED",
     "the device was removed (surprise removal or release): it takes no new opens or commands"},
    {HRESULT_FROM_WIN32(ERROR_INVALID_STATE), "ERROR_INVALID_STATE",
     "not possible in the present state (for example wake while the device is awake)"},
    {HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH), "ERROR_REVISION_MISMATCH",
     "the host speaks another version of the protocol"},
};

}  // namespace

std::string DescribeDeviceStatus(HRESULT status) {
    for (const StatusMeaning& meaning : kHostStatuses) {
        if (meaning.status == status) {
            char code[16];
            std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(status));
            return std::string(meaning.name) + " (" + code + "): " + meaning.meaning;
        }
    }
    return zntr::sensor_message::DescribeStatus(status);
}

}  // namespace zntr::client
