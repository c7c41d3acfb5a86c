// PROPVARIANT ownership as on Windows: PropVariantClear frees what a value owns and leaves
// VT_EMPTY; PropVariantCopy makes a deep copy; the initialisers allocate with CoTaskMemAlloc.
// Leaks and double frees show under the address sanitizer.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "com_test_support.h"
#include "standin/propvarutil.h"
#include "standin/shlwapi.h"
#include "wine_quirks.h"

namespace {

using zntr::platform::ComObject;
using zntr::platform::PropVariant;
using zntr::test::ReferenceCount;

class Counted final : public ComObject<IUnknown> {
  protected:
    bool Answers(REFIID) const override { return false; }
};

bool IsAllZero(const PROPVARIANT& value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    for (size_t i = 0; i < sizeof(value); ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

LPWSTR TaskString(const wchar_t* text) {
    LPWSTR copy = nullptr;
    SHStrDupW(text, &copy);
    return copy;
}

TEST(PropVariantTest, TheLayoutIsWindowsOnA64BitTarget) {
    EXPECT_EQ(sizeof(PROPVARIANT), 24u);
    EXPECT_EQ(offsetof(PROPVARIANT, vt), 0u);
    EXPECT_EQ(offsetof(PROPVARIANT, dblVal), 8u);
    EXPECT_EQ(offsetof(PROPVARIANT, caub), 8u);
    EXPECT_EQ(VT_VECTOR | VT_UI1, 0x1011);
}

TEST(PropVariantClearTest, FreesWhatEachTypeOwnsAndLeavesAllZero) {
    PROPVARIANT value;

    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = TaskString(L"text");
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_TRUE(IsAllZero(value)) << "VT_LPWSTR";

    value.vt = VT_CLSID;
    value.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_TRUE(IsAllZero(value)) << "VT_CLSID";

    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"counted");
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_TRUE(IsAllZero(value)) << "VT_BSTR";

    value.vt = VT_BLOB;
    value.blob.cbSize = 3;
    value.blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(3));
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_TRUE(IsAllZero(value)) << "VT_BLOB";

    value.vt = VT_VECTOR | VT_LPWSTR;
    value.calpwstr.cElems = 2;
    value.calpwstr.pElems = static_cast<LPWSTR*>(CoTaskMemAlloc(2 * sizeof(LPWSTR)));
    value.calpwstr.pElems[0] = TaskString(L"a");
    value.calpwstr.pElems[1] = TaskString(L"b");
    EXPECT_EQ(PropVariantClear(&value), S_OK) << "each string and the array are freed";
    EXPECT_TRUE(IsAllZero(value)) << "VT_VECTOR | VT_LPWSTR";

    Counted* object = new Counted();
    object->AddRef();
    value.vt = VT_UNKNOWN;
    value.punkVal = object;
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_EQ(ReferenceCount(object), 1u) << "VT_UNKNOWN releases its reference";
    object->AddRef();
    value.vt = VT_DISPATCH;
    value.punkVal = object;
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_EQ(ReferenceCount(object), 1u) << "VT_DISPATCH releases its reference";
    object->Release();

    value.vt = VT_R8;
    value.dblVal = 1.5;
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_TRUE(IsAllZero(value)) << "VT_R8";

    EXPECT_EQ(PropVariantClear(nullptr), S_OK);
}

TEST(PropVariantClearTest, AnUnknownTypeIsZeroedAndReported) {
    const VARTYPE unknownTypes[] = {
        static_cast<VARTYPE>(VT_BYREF | VT_I4),
        static_cast<VARTYPE>(VT_VECTOR | VT_UNKNOWN),
        0x0FFF,
#if !defined(_WIN32)
        // The stand-in has no SAFEARRAY: it refuses an array, which Windows would destroy.
        static_cast<VARTYPE>(VT_ARRAY | VT_I4),
#endif
    };
    for (const VARTYPE vt : unknownTypes) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = vt;
        value.ulVal = 7;
        EXPECT_EQ(PropVariantClear(&value), STG_E_INVALIDPARAMETER) << "vt " << vt;
        EXPECT_TRUE(IsAllZero(value)) << "vt " << vt;
    }
}

TEST(PropVariantCopyTest, CopiesDeeplyAndTakesAFurtherReference) {
    PropVariant source;
    source.vt = VT_LPWSTR;
    source.pwszVal = TaskString(L"ZNTR VCOM NMEA");
    PropVariant copy;
    ASSERT_EQ(PropVariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(copy.vt, VT_LPWSTR);
    EXPECT_NE(copy.pwszVal, source.pwszVal);
    EXPECT_EQ(std::wstring(copy.pwszVal), L"ZNTR VCOM NMEA");

    PropVariant guid;
    guid.vt = VT_CLSID;
    guid.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
    *guid.puuid = CLSID_PortableDeviceValues;
    PropVariant guidCopy;
    ASSERT_EQ(PropVariantCopy(&guidCopy, &guid), S_OK);
    EXPECT_NE(guidCopy.puuid, guid.puuid);
    EXPECT_TRUE(IsEqualGUID(*guidCopy.puuid, CLSID_PortableDeviceValues));

    const BYTE bytes[] = {4, 0, 0, 0, 7, 0, 0, 0};
    PropVariant vector;
    ASSERT_EQ(InitPropVariantFromBuffer(bytes, sizeof(bytes), &vector), S_OK);
    PropVariant vectorCopy;
    ASSERT_EQ(PropVariantCopy(&vectorCopy, &vector), S_OK);
    ASSERT_EQ(vectorCopy.caub.cElems, sizeof(bytes));
    EXPECT_NE(vectorCopy.caub.pElems, vector.caub.pElems);
    EXPECT_EQ(std::memcmp(vectorCopy.caub.pElems, bytes, sizeof(bytes)), 0);

    Counted* object = new Counted();
    PropVariant unknown;
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = object;  // takes over the creator's reference
    {
        PropVariant unknownCopy;
        ASSERT_EQ(PropVariantCopy(&unknownCopy, &unknown), S_OK);
        EXPECT_EQ(unknownCopy.punkVal, object);
        EXPECT_EQ(ReferenceCount(object), 2u);
    }
    EXPECT_EQ(ReferenceCount(object), 1u);
}

TEST(PropVariantCopyTest, AnEmptyVectorCopiesWithoutAnElementArray) {
    PropVariant empty;
    ASSERT_EQ(InitPropVariantFromBuffer(nullptr, 0, &empty), S_OK);
    EXPECT_NE(empty.caub.pElems, nullptr) << "the initialiser's block is valid even for 0 bytes";
    PropVariant copy;
    ASSERT_EQ(PropVariantCopy(&copy, &empty), S_OK);
    EXPECT_EQ(copy.vt, VT_VECTOR | VT_UI1);
    EXPECT_EQ(copy.caub.cElems, 0u);
    EXPECT_EQ(copy.caub.pElems, nullptr);
}

TEST(PropVariantCopyTest, RefusesATypeItDoesNotKnowAndLeavesTheDestination) {
    PROPVARIANT source;
    PropVariantInit(&source);
    source.vt = 0x0FFF;
    PropVariant dest;
    dest.vt = VT_I4;
    dest.lVal = 42;
    EXPECT_EQ(PropVariantCopy(&dest, &source), DISP_E_BADVARTYPE);
    EXPECT_EQ(dest.vt, VT_I4);
    EXPECT_EQ(dest.lVal, 42);
}

TEST(PropVariantInitializerTest, BufferAndFileTimeGiveTheirTypes) {
    // Wine's propsys.dll has InitPropVariantFromFileTime as a stub that ends the program.
    if (!zntr::test::RunningUnderWine()) {
        const FILETIME time = {0x580716B0, 0x01C2349B};
        PropVariant stamp;
        ASSERT_EQ(InitPropVariantFromFileTime(&time, &stamp), S_OK);
        EXPECT_EQ(stamp.vt, VT_FILETIME);
        EXPECT_EQ(stamp.filetime.dwLowDateTime, 0x580716B0u);
        EXPECT_EQ(stamp.filetime.dwHighDateTime, 0x01C2349Bu);
    }

    const unsigned char bytes[] = {0x0C, 0, 0, 0};
    PropVariant buffer;
    ASSERT_EQ(InitPropVariantFromBuffer(bytes, sizeof(bytes), &buffer), S_OK);
    EXPECT_EQ(buffer.vt, VT_VECTOR | VT_UI1);
    ASSERT_EQ(buffer.caub.cElems, 4u);
    EXPECT_NE(static_cast<const void*>(buffer.caub.pElems), static_cast<const void*>(bytes));
    EXPECT_EQ(buffer.caub.pElems[0], 0x0C);
}

}  // namespace
