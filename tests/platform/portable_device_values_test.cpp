// The Portable Devices values collection as Windows gives it: one value per key, kept in the
// order the keys were added; typed setters store the documented types; a missing key is
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND) and a value of another type DISP_E_TYPEMISMATCH.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "com_test_support.h"
#include "standin/propvarutil.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::platform::ComObject;
using zntr::platform::PropVariant;
using zntr::platform::TaskMemory;
using zntr::test::ComApartment;
using zntr::test::NewValues;
using zntr::test::ReferenceCount;
using zntr::test::TestKey;

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

class PortableDeviceValuesTest : public ::testing::Test {
  protected:
    ComApartment apartment_;
    ComPtr<IPortableDeviceValues> values_ = NewValues();
};

std::vector<DWORD> KeyOrder(IPortableDeviceValues* values) {
    DWORD count = 0;
    values->GetCount(&count);
    std::vector<DWORD> pids;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        values->GetAt(i, &key, nullptr);
        pids.push_back(key.pid);
    }
    return pids;
}

TEST_F(PortableDeviceValuesTest, SetValueReplacesAKeysValueWhereItStands) {
    ASSERT_TRUE(values_);
    values_->SetUnsignedIntegerValue(TestKey(3), 30);
    values_->SetUnsignedIntegerValue(TestKey(1), 10);
    values_->SetUnsignedIntegerValue(TestKey(2), 20);
    PropVariant replacement;
    replacement.vt = VT_R8;
    replacement.dblVal = 1.25;
    ASSERT_EQ(values_->SetValue(TestKey(1), &replacement), S_OK);

    EXPECT_EQ(KeyOrder(values_.Get()), (std::vector<DWORD>{3, 1, 2}));
    PropVariant read;
    ASSERT_EQ(values_->GetAt(1, nullptr, &read), S_OK);
    EXPECT_EQ(read.vt, VT_R8);
    EXPECT_EQ(read.dblVal, 1.25);
}

TEST_F(PortableDeviceValuesTest, GetValueOfAMissingKeyIsNotFoundAndValuesComeOutAsCopies) {
    PropVariant read;
    read.vt = VT_I4;
    EXPECT_EQ(values_->GetValue(TestKey(9), &read), kNotFound);
    EXPECT_EQ(read.vt, VT_EMPTY);
    EXPECT_EQ(values_->GetValue(TestKey(9), nullptr), E_POINTER);

    values_->SetStringValue(TestKey(1), L"original");
    PropVariant first;
    ASSERT_EQ(values_->GetValue(TestKey(1), &first), S_OK);
    first.pwszVal[0] = L'X';
    PropVariant second;
    ASSERT_EQ(values_->GetValue(TestKey(1), &second), S_OK);
    EXPECT_EQ(std::wstring(second.pwszVal), L"original");
}

TEST_F(PortableDeviceValuesTest, TypedSettersStoreTheirDocumentedTypes) {
    const GUID guid = CLSID_PortableDeviceKeyCollection;
    BYTE buffer[] = {1, 2, 3};
    struct Case {
        const char* legend;
        HRESULT set;
        VARTYPE vt;
    };
    const Case cases[] = {
        {"string", values_->SetStringValue(TestKey(1), L"s"), VT_LPWSTR},
        {"unsigned integer", values_->SetUnsignedIntegerValue(TestKey(2), 7), VT_UI4},
        {"signed integer", values_->SetSignedIntegerValue(TestKey(3), -7), VT_I4},
        {"unsigned large integer", values_->SetUnsignedLargeIntegerValue(TestKey(4), 1ull << 40),
         VT_UI8},
        {"signed large integer", values_->SetSignedLargeIntegerValue(TestKey(5), -(1ll << 40)),
         VT_I8},
        {"float: there is no double setter", values_->SetFloatValue(TestKey(6), 0.5f), VT_R4},
        {"error", values_->SetErrorValue(TestKey(7), E_ACCESSDENIED), VT_ERROR},
        {"bool", values_->SetBoolValue(TestKey(8), TRUE), VT_BOOL},
        {"GUID", values_->SetGuidValue(TestKey(9), guid), VT_CLSID},
        {"buffer", values_->SetBufferValue(TestKey(10), buffer, sizeof(buffer)),
         VT_VECTOR | VT_UI1},
        {"key, documented as an interface", values_->SetKeyValue(TestKey(11), TestKey(77)),
         VT_UNKNOWN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.set, S_OK) << c.legend;
    }
    for (DWORD i = 0; i < std::size(cases); ++i) {
        PropVariant read;
        ASSERT_EQ(values_->GetValue(TestKey(i + 1), &read), S_OK) << cases[i].legend;
        EXPECT_EQ(read.vt, cases[i].vt) << cases[i].legend;
    }

    ULONG unsignedValue = 0;
    EXPECT_EQ(values_->GetUnsignedIntegerValue(TestKey(2), &unsignedValue), S_OK);
    EXPECT_EQ(unsignedValue, 7u);
    LONGLONG large = 0;
    EXPECT_EQ(values_->GetSignedLargeIntegerValue(TestKey(5), &large), S_OK);
    EXPECT_EQ(large, -(1ll << 40));
    HRESULT error = S_OK;
    EXPECT_EQ(values_->GetErrorValue(TestKey(7), &error), S_OK);
    EXPECT_EQ(error, E_ACCESSDENIED);
    BOOL flag = FALSE;
    EXPECT_EQ(values_->GetBoolValue(TestKey(8), &flag), S_OK);
    EXPECT_TRUE(flag);
    GUID readGuid;
    EXPECT_EQ(values_->GetGuidValue(TestKey(9), &readGuid), S_OK);
    EXPECT_TRUE(IsEqualGUID(readGuid, guid));
    TaskMemory<BYTE> bytes;
    DWORD size = 0;
    EXPECT_EQ(values_->GetBufferValue(TestKey(10), bytes.put(), &size), S_OK);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(bytes.get()[2], 3);
    PROPERTYKEY key;
    EXPECT_EQ(values_->GetKeyValue(TestKey(11), &key), S_OK);
    EXPECT_TRUE(IsEqualPropertyKey(key, TestKey(77)));
    TaskMemory<WCHAR> text;
    EXPECT_EQ(values_->GetStringValue(TestKey(1), text.put()), S_OK);
    EXPECT_EQ(std::wstring(text.get()), L"s");
}

TEST_F(PortableDeviceValuesTest, TypedGettersRefuseAnotherTypeAndAMissingKey) {
    values_->SetUnsignedIntegerValue(TestKey(1), 7);
    values_->SetIUnknownValue(TestKey(2), NewValues().Get());
    LONG signedValue = 0;
    FLOAT floatValue = 0;
    PROPERTYKEY key;
    ComPtr<IPortableDeviceKeyCollection> keys;
    EXPECT_EQ(values_->GetSignedIntegerValue(TestKey(1), &signedValue), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(values_->GetFloatValue(TestKey(1), &floatValue), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(values_->GetKeyValue(TestKey(2), &key), DISP_E_TYPEMISMATCH)
        << "an interface that is no stored key";
    EXPECT_EQ(values_->GetIPortableDeviceKeyCollectionValue(TestKey(2), keys.GetAddressOf()),
              DISP_E_TYPEMISMATCH)
        << "an interface of another kind";
    EXPECT_EQ(values_->GetSignedIntegerValue(TestKey(3), &signedValue), kNotFound);
    EXPECT_EQ(values_->GetUnsignedIntegerValue(TestKey(1), nullptr), E_POINTER);
}

TEST_F(PortableDeviceValuesTest, GetAtNeedsAnIndexInRangeAndBothOutputsAreOptional) {
    values_->SetSignedIntegerValue(TestKey(5), -1);
    PROPERTYKEY key;
    PropVariant value;
    EXPECT_EQ(values_->GetAt(0, nullptr, nullptr), S_OK);
    EXPECT_EQ(values_->GetAt(0, &key, nullptr), S_OK);
    EXPECT_EQ(key.pid, 5u);
    EXPECT_EQ(values_->GetAt(0, nullptr, &value), S_OK);
    EXPECT_EQ(value.lVal, -1);
    EXPECT_EQ(values_->GetAt(1, &key, &value), E_INVALIDARG);
}

TEST_F(PortableDeviceValuesTest, InterfaceValuesHoldAReferenceUntilClearedOrReplaced) {
    ComPtr<IPortableDeviceValues> inner = NewValues();
    ASSERT_EQ(values_->SetIPortableDeviceValuesValue(TestKey(1), inner.Get()), S_OK);
    EXPECT_EQ(ReferenceCount(inner.Get()), 2u);
    ComPtr<IPortableDeviceValues> read;
    ASSERT_EQ(values_->GetIPortableDeviceValuesValue(TestKey(1), read.GetAddressOf()), S_OK);
    EXPECT_EQ(read.Get(), inner.Get());
    read = nullptr;

    values_->SetUnsignedIntegerValue(TestKey(1), 0);
    EXPECT_EQ(ReferenceCount(inner.Get()), 1u) << "the replaced value is released";
    values_->SetIUnknownValue(TestKey(2), inner.Get());
    EXPECT_EQ(values_->Clear(), S_OK);
    EXPECT_EQ(ReferenceCount(inner.Get()), 1u) << "Clear releases what it held";
    DWORD count = 1;
    values_->GetCount(&count);
    EXPECT_EQ(count, 0u);
}

TEST_F(PortableDeviceValuesTest, RemoveValueTakesOneKeyOutAndKeepsTheOthersInOrder) {
    for (DWORD pid = 1; pid <= 3; ++pid) {
        values_->SetUnsignedIntegerValue(TestKey(pid), pid);
    }
    EXPECT_EQ(values_->RemoveValue(TestKey(2)), S_OK);
    EXPECT_EQ(values_->RemoveValue(TestKey(2)), kNotFound);
    EXPECT_EQ(KeyOrder(values_.Get()), (std::vector<DWORD>{1, 3}));
}

// A property store of the tests' own: keys and values in a vector.
class VectorPropertyStore final : public ComObject<IPropertyStore> {
  public:
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        *count = static_cast<DWORD>(keys.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
        if (index >= keys.size()) {
            return E_INVALIDARG;
        }
        *key = keys[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        PropVariantInit(value);
        for (size_t i = 0; i < keys.size(); ++i) {
            if (IsEqualPropertyKey(keys[i], key)) {
                value->vt = VT_UI4;
                value->ulVal = numbers[i];
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override {
        if (value.vt != VT_UI4) {
            return E_FAIL;
        }
        keys.push_back(key);
        numbers.push_back(value.ulVal);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }

    std::vector<PROPERTYKEY> keys;
    std::vector<ULONG> numbers;

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IPropertyStore); }
};

TEST_F(PortableDeviceValuesTest, CopiesToAndFromAPropertyStoreInOrderAndStopsAtAFailure) {
    ComPtr<VectorPropertyStore> store;
    store.Attach(new VectorPropertyStore());
    store->keys = {TestKey(2), TestKey(1)};
    store->numbers = {20, 10};
    ASSERT_EQ(values_->CopyValuesFromPropertyStore(store.Get()), S_OK);
    EXPECT_EQ(KeyOrder(values_.Get()), (std::vector<DWORD>{2, 1}));

    ComPtr<VectorPropertyStore> target;
    target.Attach(new VectorPropertyStore());
    ASSERT_EQ(values_->CopyValuesToPropertyStore(target.Get()), S_OK);
    EXPECT_EQ(target->numbers, (std::vector<ULONG>{20, 10}));

    values_->SetStringValue(TestKey(3), L"the store takes numbers only");
    values_->SetUnsignedIntegerValue(TestKey(4), 40);
    ComPtr<VectorPropertyStore> refusing;
    refusing.Attach(new VectorPropertyStore());
    EXPECT_EQ(values_->CopyValuesToPropertyStore(refusing.Get()), E_FAIL);
    EXPECT_EQ(refusing->numbers, (std::vector<ULONG>{20, 10})) << "stops at the string";
    EXPECT_EQ(values_->CopyValuesToPropertyStore(nullptr), E_POINTER);
}

// Writers replace and add keys while a reader walks the collection; every value read is whole.
// The thread sanitizer checks the locking.
TEST_F(PortableDeviceValuesTest, ConcurrentWritersAndReadersSeeWholeValues) {
    constexpr int kWriters = 4;
    constexpr int kRounds = 2000;
    std::atomic<bool> writing{true};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (writing) {
            DWORD count = 0;
            values_->GetCount(&count);
            for (DWORD i = 0; i < count; ++i) {
                PROPERTYKEY key;
                PropVariant value;
                if (SUCCEEDED(values_->GetAt(i, &key, &value)) && value.vt == VT_LPWSTR &&
                    std::wstring(value.pwszVal) != L"value " + std::to_wstring(key.pid)) {
                    ++torn;
                }
            }
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                const DWORD pid = static_cast<DWORD>(w * 8 + round % 8);
                values_->SetStringValue(TestKey(pid), (L"value " + std::to_wstring(pid)).c_str());
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    writing = false;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    DWORD count = 0;
    values_->GetCount(&count);
    EXPECT_EQ(count, static_cast<DWORD>(kWriters * 8)) << "each key is held once";
}

}  // namespace
