// The class extension as the driver gets it: through CoCreateInstance, once the host has
// registered its class.
#include <gtest/gtest.h>

#include "sensor_class_extension.h"
#include "standin/combaseapi.h"
#include "standin/wrl_client.h"

namespace zntr::test {
namespace {

using Microsoft::WRL::ComPtr;

class RegistrationTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }

    static HRESULT Create(IUnknown* outer, REFIID iid, ComPtr<IUnknown>& object) {
        return CoCreateInstance(CLSID_SensorClassExtension, outer, CLSCTX_INPROC_SERVER, iid,
                                reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
    }
};

TEST_F(RegistrationTest, CreatesClassExtensionsWhileRegistered) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(Create(nullptr, IID_ISensorClassExtension, object), REGDB_E_CLASSNOTREG);

    DWORD cookie = 0;
    ASSERT_EQ(zntr::host::RegisterSensorClassExtension(&cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    ComPtr<IUnknown> first;
    ComPtr<IUnknown> second;
    ASSERT_EQ(Create(nullptr, IID_ISensorClassExtension, first), S_OK);
    ASSERT_EQ(Create(nullptr, IID_ISensorClassExtension, second), S_OK);
    EXPECT_NE(first.Get(), second.Get());  // one per device that asks

    // One identity, and no interface it does not have.
    ComPtr<IUnknown> identity;
    ASSERT_EQ(
        first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf())),
        S_OK);
    EXPECT_EQ(identity.Get(), first.Get());
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(first->QueryInterface(IID_ISensorDriver, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    EXPECT_EQ(Create(first.Get(), IID_IUnknown, object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object.Get(), nullptr);

    ASSERT_EQ(zntr::host::RevokeSensorClassExtension(cookie), S_OK);
    EXPECT_EQ(Create(nullptr, IID_ISensorClassExtension, object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(zntr::host::RegisterSensorClassExtension(nullptr), E_POINTER);
}

}  // namespace
}  // namespace zntr::test
