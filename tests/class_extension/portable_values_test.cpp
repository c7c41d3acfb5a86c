// The crossing between the driver's PROPVARIANTs and the messages' values.
#include <gtest/gtest.h>

#include "message_samples.h"
#include "portable_values.h"
#include "standin/com_helpers.h"
#include "standin/wrl_client.h"

namespace zntr::test {
namespace {

using Microsoft::WRL::ComPtr;
using zntr::platform::PropVariant;

class PortableValuesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

// Each value becomes the PROPVARIANT type it stands for, and comes back the same.
TEST_F(PortableValuesTest, EveryValueTypeCrossesBothWays) {
    for (const message::KeyedValue& entry : EveryKindOfValue()) {
        SCOPED_TRACE(message::VarTypeOf(entry.value));
        PropVariant variant;
        ASSERT_EQ(zntr::host::ToPropVariant(entry.value, &variant), S_OK);
        EXPECT_EQ(variant.vt, message::VarTypeOf(entry.value));
        message::Value back;
        ASSERT_EQ(zntr::host::ToMessageValue(variant, &back), S_OK);
        EXPECT_EQ(back, entry.value);
    }
}

TEST_F(PortableValuesTest, CollectionsCrossInTheirOrder) {
    const message::ValueList list = EveryKindOfValue();
    ComPtr<IPortableDeviceValues> values;
    ASSERT_EQ(zntr::host::MakeValues(list, values.GetAddressOf()), S_OK);
    message::ValueList back;
    ASSERT_EQ(zntr::host::ReadValues(values.Get(), &back), S_OK);
    EXPECT_EQ(back, list);

    const std::vector<PROPERTYKEY> keys = {SENSOR_PROPERTY_STATE, WPD_OBJECT_ID,
                                           SENSOR_PROPERTY_STATE};
    ComPtr<IPortableDeviceKeyCollection> collection;
    ASSERT_EQ(zntr::host::MakeKeyCollection(keys, collection.GetAddressOf()), S_OK);
    std::vector<PROPERTYKEY> keysBack;
    ASSERT_EQ(zntr::host::ReadKeys(collection.Get(), &keysBack), S_OK);
    ASSERT_EQ(keysBack.size(), 3u);
    EXPECT_TRUE(IsEqualPropertyKey(keysBack[1], WPD_OBJECT_ID));
    EXPECT_TRUE(IsEqualPropertyKey(keysBack[2], SENSOR_PROPERTY_STATE));
}

// A value the messages cannot carry does not cost the rest of the answer: it travels as an
// error value under its key.
TEST_F(PortableValuesTest, AValueOfAnotherTypeTravelsAsAnErrorValue) {
    PropVariant unknown;
    unknown.vt = VT_I2;
    unknown.iVal = 4;
    message::Value value;
    EXPECT_EQ(zntr::host::ToMessageValue(unknown, &value), DISP_E_BADVARTYPE);

    ComPtr<IPortableDeviceValues> values;
    ASSERT_EQ(
        zntr::host::MakeValues({{SENSOR_PROPERTY_STATE, std::uint32_t{2}}}, values.GetAddressOf()),
        S_OK);
    ASSERT_EQ(values->SetValue(SENSOR_PROPERTY_MODEL, &unknown), S_OK);
    message::ValueList back;
    ASSERT_EQ(zntr::host::ReadValues(values.Get(), &back), S_OK);
    EXPECT_EQ(back,
              (message::ValueList{{SENSOR_PROPERTY_STATE, std::uint32_t{2}},
                                  {SENSOR_PROPERTY_MODEL, message::ErrorCode{DISP_E_BADVARTYPE}}}));
}

}  // namespace
}  // namespace zntr::test
