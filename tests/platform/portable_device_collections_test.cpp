// The Portable Devices key collection (keys in the order added, duplicates kept) and values
// collection (references to values objects, not copies), as Windows gives them.
#include <gtest/gtest.h>

#include "com_test_support.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::test::ComApartment;
using zntr::test::Create;
using zntr::test::NewValues;
using zntr::test::ReferenceCount;
using zntr::test::TestKey;

TEST(PortableDeviceKeyCollectionTest, KeepsKeysInOrderWithDuplicatesAndChecksIndices) {
    ComApartment apartment;
    ComPtr<IPortableDeviceKeyCollection> keys;
    ASSERT_EQ(Create(CLSID_PortableDeviceKeyCollection, IID_IPortableDeviceKeyCollection, keys),
              S_OK);
    for (const DWORD pid : {5u, 2u, 5u, 9u}) {
        ASSERT_EQ(keys->Add(TestKey(pid)), S_OK);
    }
    DWORD count = 0;
    ASSERT_EQ(keys->GetCount(&count), S_OK);
    ASSERT_EQ(count, 4u);
    PROPERTYKEY key;
    const DWORD expected[] = {5, 2, 5, 9};
    for (DWORD i = 0; i < 4; ++i) {
        ASSERT_EQ(keys->GetAt(i, &key), S_OK);
        EXPECT_EQ(key.pid, expected[i]);
    }
    EXPECT_EQ(keys->GetAt(4, &key), E_INVALIDARG);
    EXPECT_EQ(keys->GetAt(0, nullptr), E_POINTER);

    EXPECT_EQ(keys->RemoveAt(1), S_OK);
    ASSERT_EQ(keys->GetAt(1, &key), S_OK);
    EXPECT_EQ(key.pid, 5u);
    EXPECT_EQ(keys->RemoveAt(3), E_INVALIDARG);
    EXPECT_EQ(keys->Clear(), S_OK);
    keys->GetCount(&count);
    EXPECT_EQ(count, 0u);
}

TEST(PortableDeviceValuesCollectionTest, HoldsReferencesToTheObjectsAdded) {
    ComApartment apartment;
    ComPtr<IPortableDeviceValuesCollection> collection;
    ASSERT_EQ(Create(CLSID_PortableDeviceValuesCollection, IID_IPortableDeviceValuesCollection,
                     collection),
              S_OK);
    ComPtr<IPortableDeviceValues> element = NewValues();
    ASSERT_EQ(collection->Add(element.Get()), S_OK);
    EXPECT_EQ(ReferenceCount(element.Get()), 2u);
    EXPECT_EQ(collection->Add(nullptr), E_POINTER);

    // A change made after the Add shows through the collection: it is the same object.
    element->SetUnsignedIntegerValue(TestKey(1), 42);
    ComPtr<IPortableDeviceValues> read;
    ASSERT_EQ(collection->GetAt(0, read.GetAddressOf()), S_OK);
    EXPECT_EQ(read.Get(), element.Get());
    ULONG value = 0;
    EXPECT_EQ(read->GetUnsignedIntegerValue(TestKey(1), &value), S_OK);
    EXPECT_EQ(value, 42u);
    read = nullptr;
    EXPECT_EQ(collection->GetAt(1, read.GetAddressOf()), E_INVALIDARG);

    collection = nullptr;
    EXPECT_EQ(ReferenceCount(element.Get()), 1u) << "the collection's release releases it";
}

}  // namespace
