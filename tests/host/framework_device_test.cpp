// The framework device's identity and object context.
#include <gtest/gtest.h>

#include "framework_device.h"
#include "standin/wrl_client.h"

namespace {

using Microsoft::WRL::ComPtr;

TEST(FrameworkDeviceTest, AnswersTheDeviceInterfacesAndOneIdentity) {
    ComPtr<IWDFDevice> device;
    ASSERT_EQ(zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device.GetAddressOf()),
              S_OK);
    void* object = nullptr;
    for (const IID& iid : {IID_IUnknown, IID_IWDFObject, IID_IWDFDevice}) {
        ASSERT_EQ(device->QueryInterface(iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<void*>(device.Get()));
        device->Release();
    }
    EXPECT_EQ(device->QueryInterface(IID_IWDFNamedPropertyStore, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST(FrameworkDeviceTest, HoldsOneContextAndRefusesASecond) {
    ComPtr<IWDFDevice> device;
    ASSERT_EQ(zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device.GetAddressOf()),
              S_OK);
    void* context = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(device->RetrieveContext(&context), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    EXPECT_EQ(context, nullptr);
    int data = 0;
    EXPECT_EQ(device->AssignContext(nullptr, &data), S_OK);
    EXPECT_EQ(device->AssignContext(nullptr, nullptr), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(device->RetrieveContext(&context), S_OK);
    EXPECT_EQ(context, &data);
}

}  // namespace
