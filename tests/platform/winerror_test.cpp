// HRESULT macros and values as the Windows headers define them.
#include <gtest/gtest.h>

#include "standin/winerror.h"

namespace {

TEST(WinErrorTest, HresultFromWin32KeepsTheCodeUnderFacilityWin32) {
    EXPECT_EQ(static_cast<ULONG>(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)), 0x80070032u);
    EXPECT_EQ(static_cast<ULONG>(HRESULT_FROM_WIN32(ERROR_NOT_FOUND)), 0x80070490u);
    EXPECT_EQ(static_cast<ULONG>(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)), 0x8007007Au);
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK) << "zero stays zero";
    EXPECT_EQ(HRESULT_FROM_WIN32(-5), -5) << "negative values pass unchanged";
    EXPECT_EQ(HRESULT_FROM_WIN32(static_cast<long>(E_FAIL)), E_FAIL)
        << "an HRESULT passes unchanged";
    EXPECT_EQ(static_cast<ULONG>(HRESULT_FROM_WIN32(0x12345)), 0x80072345u)
        << "only the low 16 bits are kept";
}

TEST(WinErrorTest, SFalseIsASuccess) {
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_FALSE(FAILED(S_FALSE));
    EXPECT_TRUE(FAILED(E_UNEXPECTED));
    EXPECT_EQ(static_cast<ULONG>(E_UNEXPECTED), 0x8000FFFFu);
    EXPECT_EQ(static_cast<ULONG>(E_OUTOFMEMORY), 0x8007000Eu);
    EXPECT_EQ(static_cast<ULONG>(E_INVALIDARG), 0x80070057u);
}

}  // namespace
