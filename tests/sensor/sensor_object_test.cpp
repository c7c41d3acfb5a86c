// The sensor object's creation, COM identity and destruction.
#include <gtest/gtest.h>

#include "sensor_test_support.h"

namespace {

using zntr::test::ComPtr;
using zntr::test::PropVariant;
using zntr::test::SensorTest;

ULONG ReferenceCount(IUnknown* object) {
    return zntr::test::ReferenceCountOf(object);
}

TEST(SensorCreatorTest, StoresANewObjectWithNoReferenceOfItsOwn) {
    cSensorDDI* sensor = reinterpret_cast<cSensorDDI*>(0x1);
    ASSERT_EQ(cSensorDDI::CreateInstance(&sensor), S_OK);
    ASSERT_NE(sensor, nullptr);
    // The caller takes the first reference; releasing it destroys the object.
    EXPECT_EQ(sensor->AddRef(), 1u);
    EXPECT_EQ(sensor->Release(), 0u);
    EXPECT_EQ(cSensorDDI::CreateInstance(nullptr), E_POINTER);
}

TEST_F(SensorTest, ANewSensorStartsIdleWithNoDataAndNoCollections) {
    const cSensorDDI& sensor = Sensor();
    EXPECT_EQ(sensor.mSocket, 0u);
    EXPECT_EQ(sensor.mhRecvThread, nullptr);
    EXPECT_EQ(sensor.mRecvBuffer.mpData, nullptr);
    EXPECT_EQ(sensor.mRecvBuffer.mReadIndex + sensor.mRecvBuffer.mWriteIndex, 0u);
    EXPECT_EQ(sensor.mClientCount, 0u);
    EXPECT_EQ(sensor.mSubscriberCount, 0u);
    EXPECT_TRUE(sensor.mNetDevicePath.empty() && sensor.mDeviceName.empty() &&
                sensor.mNMEAPortID.empty());
    EXPECT_FALSE(sensor.mpSupportedProperties || sensor.mpSupportedDataFields ||
                 sensor.mpSensorProperties || sensor.mpSensorDataFields);
    EXPECT_EQ(sensor.mhDataEvent, nullptr);
    EXPECT_EQ(sensor.mhStateEvent, nullptr);
    EXPECT_EQ(sensor.mSensorState, static_cast<ULONG>(SENSOR_STATE_NO_DATA));
    EXPECT_EQ(sensor.mLastLatitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(sensor.mLastLongitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(sensor.mLastErrorRadius, NO_DOUBLE_VALUE);
    EXPECT_EQ(sensor.mNMEAParser.mLatitude, NO_DOUBLE_VALUE);
}

TEST_F(SensorTest, QueryInterfaceAnswersIUnknownAndISensorDriverOnly) {
    ISensorDriver* driver = &Sensor();
    void* answer = nullptr;
    ASSERT_EQ(driver->QueryInterface(IID_ISensorDriver, &answer), S_OK);
    EXPECT_EQ(answer, static_cast<void*>(driver));
    driver->Release();
    ASSERT_EQ(driver->QueryInterface(IID_IUnknown, &answer), S_OK);
    EXPECT_EQ(answer, static_cast<void*>(static_cast<IUnknown*>(driver)));
    driver->Release();
    for (const IID& other : {IID_IClassFactory, IID_IWDFDevice, IID_ISensorClassExtension,
                             IID_IPortableDeviceValues}) {
        answer = driver;
        EXPECT_EQ(driver->QueryInterface(other, &answer), E_NOINTERFACE);
        EXPECT_EQ(answer, nullptr);
    }
    EXPECT_EQ(driver->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(ReferenceCount(driver), 1u) << "only gpSensorDDI's reference is left";
}

TEST_F(SensorTest, TheLastInterfaceSlotRunsOnProcessIoControlWhichDoesNothing) {
    ISensorDriver* driver = &Sensor();
    EXPECT_EQ(driver->OnProcessWpdMessage(nullptr, nullptr), S_OK);
    EXPECT_TRUE(Log().empty());
}

TEST_F(SensorTest, DestructionReleasesTheCollectionsAndEndsWindowsSockets) {
    ASSERT_EQ(Initialize(), S_OK);
    ComPtr<IPortableDeviceValues> dataFields = Sensor().mpSensorDataFields;
    ComPtr<IPortableDeviceKeyCollection> properties = Sensor().mpSupportedProperties;
    // While the sensor lives it holds one Windows Sockets start-up of its own.
    EXPECT_EQ(WSACleanup(), 0);
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);

    gpSensorDDI->Release();
    gpSensorDDI = nullptr;
    EXPECT_EQ(ReferenceCount(dataFields.Get()), 1u);
    EXPECT_EQ(ReferenceCount(properties.Get()), 1u);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR) << "the destructor's WSACleanup matched the start-up";
}

}  // namespace
