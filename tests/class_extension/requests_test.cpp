// The class extension's handling of requests: which reach the driver, how answers come back,
// and what is refused before the driver sees it.
#include "class_extension_test_support.h"
#include "message_samples.h"

namespace zntr::test {
namespace {

using RequestsTest = ClassExtensionTest;

const message::Value* Find(const message::ValueList& values, const PROPERTYKEY& key) {
    return message::FindValue(values, key);
}

TEST_F(RequestsTest, AnswersTheQueriesFromTheDriver) {
    ComPtr<FakeFile> file = FakeFile::Make();
    message::Answer answer;

    ASSERT_EQ(Exchange(file.Get(), Named(Command::kGetSupportedSensorObjects, L""), &answer), S_OK);
    ASSERT_EQ(answer.valueLists.size(), 1u);
    EXPECT_EQ(*Find(answer.valueLists[0], WPD_OBJECT_ID),
              message::Value(std::wstring(L"FakeSensor")));
    EXPECT_EQ(*Find(answer.valueLists[0], SENSOR_PROPERTY_FRIENDLY_NAME),
              message::Value(std::wstring(L"Fake GPS")));

    ASSERT_EQ(Exchange(file.Get(), Named(Command::kGetSupportedProperties), &answer), S_OK);
    ASSERT_EQ(answer.keys.size(), 3u);
    EXPECT_TRUE(IsEqualPropertyKey(answer.keys[2], SENSOR_PROPERTY_STATE));

    ASSERT_EQ(Exchange(file.Get(), Named(Command::kGetSupportedDataFields), &answer), S_OK);
    ASSERT_EQ(answer.keys.size(), 2u);
    EXPECT_TRUE(IsEqualPropertyKey(answer.keys[1], SENSOR_DATA_TYPE_LATITUDE_DEGREES));

    ASSERT_EQ(Exchange(file.Get(), Named(Command::kGetSupportedEvents), &answer), S_OK);
    EXPECT_EQ(answer.guids,
              (std::vector<GUID>{SENSOR_EVENT_DATA_UPDATED, SENSOR_EVENT_STATE_CHANGED}));

    // A key the driver does not have comes back as an error value, and the call as S_FALSE.
    message::Request get = Named(Command::kGetProperties);
    get.keys = {SENSOR_PROPERTY_STATE, SENSOR_PROPERTY_MODEL};
    ASSERT_EQ(Exchange(file.Get(), get, &answer), S_FALSE);
    EXPECT_EQ(answer.values,
              (message::ValueList{{SENSOR_PROPERTY_STATE, std::uint32_t{0}},
                                  {SENSOR_PROPERTY_MODEL,
                                   message::ErrorCode{HRESULT_FROM_WIN32(ERROR_NOT_FOUND)}}}));

    get.command = Command::kGetDataFields;
    get.keys = {SENSOR_DATA_TYPE_LATITUDE_DEGREES};
    ASSERT_EQ(Exchange(file.Get(), get, &answer), S_OK);
    EXPECT_EQ(answer.values, (message::ValueList{{SENSOR_DATA_TYPE_LATITUDE_DEGREES, 47.5}}));

    // Each query reached the driver with the sensor named and, where it takes one, the file.
    for (const FakeSensorDriver::Call& call : driver_->Calls()) {
        if (call.name == "OnGetProperties" || call.name == "OnGetDataFields") {
            EXPECT_EQ(call.file, file.Get()) << call.name;
        }
        if (call.name != "OnGetSupportedSensorObjects") {
            EXPECT_EQ(call.sensorId, L"FakeSensor") << call.name;
        }
    }
}

// Every type the messages carry reaches the driver as the PROPVARIANT it stands for.
TEST_F(RequestsTest, HandsValuesToSetToTheDriverAndItsResultsBack) {
    ComPtr<FakeFile> file = FakeFile::Make();
    message::Request set = Named(Command::kSetProperties);
    set.values = EveryKindOfValue();
    message::Answer answer;
    ASSERT_EQ(Exchange(file.Get(), set, &answer), S_FALSE);
    ASSERT_EQ(answer.values.size(), set.values.size());
    for (const message::KeyedValue& result : answer.values) {
        EXPECT_EQ(result.value, message::Value(message::ErrorCode{HRESULT_FROM_WIN32(1168)}));
    }

    ComPtr<IPortableDeviceValues> given = driver_->LastSet();
    ASSERT_TRUE(given);
    DWORD count = 0;
    ASSERT_EQ(given->GetCount(&count), S_OK);
    ASSERT_EQ(count, set.values.size());
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(given->GetValue(SENSOR_PROPERTY_FRIENDLY_NAME, &value), S_OK);
    EXPECT_EQ(value.vt, VT_LPWSTR);
    EXPECT_EQ(std::wstring(value.pwszVal), L"GPS caf\u00e9 \U0001F600");
    PropVariantClear(&value);
    ASSERT_EQ(given->GetValue(SENSOR_DATA_TYPE_GPS_STATUS, &value), S_OK);
    EXPECT_EQ(value.vt, VT_BOOL);
    EXPECT_EQ(value.boolVal, VARIANT_TRUE);
    ASSERT_EQ(given->GetValue(SENSOR_DATA_TYPE_SATELLITES_USED_PRNS, &value), S_OK);
    EXPECT_EQ(value.vt, VT_VECTOR | VT_UI1);
    EXPECT_EQ(value.caub.cElems, 8u);
    PropVariantClear(&value);
}

// Requests the class extension answers itself; the driver hears of none of them.
TEST_F(RequestsTest, RefusesWhatItCannotTakeWithoutCallingTheDriver) {
    ComPtr<FakeFile> file = FakeFile::Make();
    std::vector<std::uint8_t> otherVersion = message::EncodeRequest(Named(Command::kConnect));
    PutU16(otherVersion, 4, 2);
    message::Request set = Named(Command::kSetProperties);
    set.values = {{SENSOR_PROPERTY_MODEL, std::wstring(L"x")}};
    const std::vector<std::uint8_t> setBytes = message::EncodeRequest(set);
    const std::vector<std::uint8_t> garbage(40, 0x5A);

    struct Case {
        const char* legend;
        std::vector<std::uint8_t> bytes;
        ULONG controlCode;
        HRESULT expected;
    };
    const Case cases[] = {
        {"a control code of another kind", setBytes, 0x00220004u, message::kStatusNotSupported},
        {"no input at all", {}, IOCTL_WPD_MESSAGE_READWRITE_ACCESS, message::kStatusMalformed},
        {"bytes that are no message", garbage, IOCTL_WPD_MESSAGE_READWRITE_ACCESS,
         message::kStatusMalformed},
        {"another version of the messages", otherVersion, IOCTL_WPD_MESSAGE_READWRITE_ACCESS,
         message::kStatusNotSupported},
        {"setting through a read-only request", setBytes, IOCTL_WPD_MESSAGE_READ_ACCESS,
         message::kStatusReadOnlyAccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ComPtr<FakeRequest> request = SendBytes(file.Get(), c.bytes, 4096, c.controlCode);
        EXPECT_EQ(request->Completions(), 1);
        EXPECT_EQ(request->Status(), c.expected);
        EXPECT_TRUE(request->Data().empty());
        EXPECT_EQ(lastResult_, c.expected);
    }
    EXPECT_TRUE(driver_->Calls().empty());

    // The same set through a read-write request does reach the driver.
    EXPECT_EQ(Exchange(file.Get(), set), S_FALSE);
    EXPECT_EQ(driver_->CallNames(), std::vector<std::string>{"OnSetProperties"});
    EXPECT_EQ(extension_->ProcessIoControl(nullptr), E_POINTER);
}

TEST_F(RequestsTest, AnAnswerThatDoesNotFitNamesTheSizeItNeeds) {
    ComPtr<FakeFile> file = FakeFile::Make();
    const message::Request request = Named(Command::kGetSupportedSensorObjects, L"");
    message::Answer full;
    ASSERT_EQ(Exchange(file.Get(), request, &full), S_OK);
    const std::size_t whole = message::EncodeAnswer(full).size();
    ASSERT_GT(whole, message::kHeaderBytes);

    struct Case {
        const char* legend;
        std::size_t outputBytes;
        HRESULT completion;
        HRESULT answerStatus;  // S_OK: the whole answer arrived
    };
    const Case cases[] = {
        {"room for the header only", message::kHeaderBytes, S_OK, message::kStatusBufferTooSmall},
        {"one byte short", whole - 1, S_OK, message::kStatusBufferTooSmall},
        {"exactly the size", whole, S_OK, S_OK},
        {"less than a header", message::kHeaderBytes - 1, message::kStatusBufferTooSmall, S_OK},
        {"no output buffer", 0, message::kStatusBufferTooSmall, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ComPtr<FakeRequest> sent = Send(file.Get(), request, c.outputBytes);
        ASSERT_EQ(sent->Completions(), 1);
        ASSERT_EQ(sent->Status(), c.completion);
        if (FAILED(c.completion)) {
            EXPECT_TRUE(sent->Data().empty());
            continue;
        }
        message::Answer answer = AnswerOf(sent);
        EXPECT_EQ(answer.status, c.answerStatus);
        if (c.answerStatus == message::kStatusBufferTooSmall) {
            EXPECT_EQ(sent->Data().size(), message::kHeaderBytes);
            EXPECT_EQ(answer.neededBodyBytes, whole - message::kHeaderBytes);
        } else {
            EXPECT_EQ(answer.valueLists.size(), 1u);
        }
    }
}

// Only a sensor the driver reports can be named; the driver's list is asked for once.
TEST_F(RequestsTest, RefusesASensorTheDriverDoesNotReport) {
    ComPtr<FakeFile> file = FakeFile::Make();
    for (const Command command : {Command::kGetSupportedProperties, Command::kGetProperties,
                                  Command::kConnect, Command::kSubscribe}) {
        EXPECT_EQ(Exchange(file.Get(), Named(command, L"OtherSensor")),
                  message::kStatusUnknownSensor);
    }
    EXPECT_EQ(Exchange(file.Get(), Command::kConnect), S_OK);
    EXPECT_EQ(driver_->CallNames(), std::vector<std::string>{"OnClientConnect"});
    int listings = 0;
    for (const FakeSensorDriver::Call& call : driver_->Calls()) {
        listings += call.name == "OnGetSupportedSensorObjects" ? 1 : 0;
    }
    EXPECT_EQ(listings, 1);
}

TEST_F(RequestsTest, InitialisesOnceWithADriver) {
    ComPtr<FakeSensorDriver> other = FakeSensorDriver::Make();
    EXPECT_EQ(extension_->Initialize(device_.Get(), other.Get()), E_UNEXPECTED);

    ComPtr<ISensorClassExtension> fresh;
    ASSERT_EQ(zntr::host::CreateSensorClassExtension(
                  IID_ISensorClassExtension, reinterpret_cast<void**>(fresh.GetAddressOf())),
              S_OK);
    ComPtr<FakeFile> notADriver = FakeFile::Make();
    EXPECT_EQ(fresh->Initialize(nullptr, other.Get()), E_POINTER);
    EXPECT_EQ(fresh->Initialize(device_.Get(), nullptr), E_POINTER);
    EXPECT_EQ(fresh->Initialize(device_.Get(), notADriver.Get()), E_NOINTERFACE);
    EXPECT_EQ(fresh->Uninitialize(), S_OK);  // nothing to let go
}

// Before Initialize and after Uninitialize, requests are answered without a driver.
TEST_F(RequestsTest, AnswersNotReadyWithoutADriver) {
    ComPtr<FakeFile> file = FakeFile::Make();
    ASSERT_EQ(extension_->Uninitialize(), S_OK);
    driver_->ForgetCalls();
    EXPECT_EQ(Exchange(file.Get(), Command::kGetSupportedProperties), message::kStatusNotReady);
    EXPECT_EQ(Exchange(file.Get(), Command::kConnect), message::kStatusNotReady);
    ComPtr<FakeRequest> wait = Wait(file.Get());
    EXPECT_EQ(wait->Status(), message::kStatusNotReady);
    EXPECT_EQ(PostState(SENSOR_STATE_READY), message::kStatusNotReady);
    EXPECT_TRUE(driver_->Calls().empty());

    // Initialised again, it serves the driver it is given.
    ASSERT_EQ(extension_->Initialize(device_.Get(), driver_.Get()), S_OK);
    EXPECT_EQ(Exchange(file.Get(), Command::kConnect), S_OK);
    EXPECT_EQ(driver_->Clients(), 1);
}

}  // namespace
}  // namespace zntr::test
