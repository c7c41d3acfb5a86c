// The driver module itself in `zntr host`, with the sensor class extension: it loads, a client
// opens the device, is answered by the driver's queue and reaches the sensor through the class
// extension, and the host stops cleanly (every request completed, DllCanUnloadNow S_OK, the
// module unloaded). No hotspot is mapped: the sensor's feed finds none, and the network guard
// keeps its attempts on this machine.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "device_file.h"
#include "host_status.h"
#include "loopback_tools.h"
#include "sensor_client.h"

namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RealModuleTest, LoadsServesAnOpenAndStopsCleanly) {
    zntr::test::TempFolder folder;
    const std::string socket = folder.path() + "/host.sock";
    const std::string output = folder.path() + "/host.out";
    const std::string log = folder.path() + "/debug.log";
    // The driver's log switched on, so that its own lines show what it did.
    const std::string registry =
        folder.Write("logging.reg",
                     "Windows Registry Editor Version 5.00\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zentrova\\ZADOdizEzud]\r\n"
                     "\"EnableLog\"=dword:00000001\r\n");
    auto host = zntr::test::ChildProcess::Start(
        {ZNTR_BINARY, "host", "--module", ZNTR_DRIVER_MODULE, "--socket", socket, "--state",
         folder.path() + "/state", "--log", log, "--registry", registry},
        output);
    ASSERT_TRUE(host);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (ReadFile(output).find("ready\n") == std::string::npos && !host->Exited() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(ReadFile(output).find("ready\n"), std::string::npos) << ReadFile(output);

    {
        const auto file = zntr::client::DeviceFile::Open(socket);
        // A control code the driver's queue does not know is refused by the queue itself.
        const auto answer = file->DeviceIoControl(0x00220004, {}, 16);
        EXPECT_EQ(answer.status, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
        zntr::client::SensorClient sensor(*file);
        EXPECT_EQ(sensor.SupportedSensorObjects().size(), 1u);
        EXPECT_EQ(sensor.Connect(), S_OK);
        EXPECT_EQ(sensor.Disconnect(), S_OK);
    }
    EXPECT_EQ(host->InterruptAndWait(20s), 0) << ReadFile(output);
    EXPECT_NE(ReadFile(output).find("stopped\n"), std::string::npos) << ReadFile(output);
    const std::string lines = ReadFile(log);
    for (const char* expected :
         {"OnPrepareHardware was triggered", "cQueue::OnCreateFile",
          "cSensorDDI::OnClientConnect\n", "Insided OnClientDisconnect",
          "OnCleanupFile was triggered", "OnReleaseHardware was triggered", "Queue Destructor"}) {
        EXPECT_NE(lines.find(expected), std::string::npos) << expected << "\n" << lines;
    }
    EXPECT_LT(lines.find("OnCleanupFile was triggered"),
              lines.find("OnReleaseHardware was triggered"));
}

}  // namespace
