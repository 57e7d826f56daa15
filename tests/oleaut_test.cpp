// BSTRs and SAFEARRAYs in the layout OLE Automation hosts expect.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "halvex32.h"
#include "host.h"

namespace {

static_assert(offsetof(SAFEARRAY, cbElements) == 4, "cbElements");
static_assert(offsetof(SAFEARRAY, cLocks) == 8, "cLocks");
static_assert(offsetof(SAFEARRAY, pvData) == (sizeof(void *) == 4 ? 12 : 16), "pvData");
static_assert(sizeof(SAFEARRAYBOUND) == 8, "bound");

TEST(Bstr, LengthPrefixAndTerminator)
{
    BSTR text = SysAllocString(OLE("GPGGA"));
    ASSERT_NE(text, nullptr);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char *>(text) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(SysStringByteLen(text), 10u);
    EXPECT_EQ(text[5], 0);
    SysFreeString(text);
}

TEST(Bstr, ByteStringsAndNulls)
{
    BSTR bytes = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    EXPECT_EQ(std::memcmp(bytes, "abc\0\0", 5), 0);
    SysFreeString(bytes);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 4u);
    EXPECT_EQ(blank[0], 0);
    SysFreeString(blank);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(SafeArray, DescriptorAndDataForRecords)
{
    SAFEARRAY *array = nullptr;
    ASSERT_EQ(SafeArrayAllocDescriptor(1, &array), S_OK);
    EXPECT_EQ(array->cDims, 1);
    array->cbElements = 24;
    array->rgsabound[0].cElements = 3;
    ASSERT_EQ(SafeArrayAllocData(array), S_OK);
    std::memset(array->pvData, 0xAB, 72);
    EXPECT_EQ(SafeArrayDestroyData(array), S_OK);
    EXPECT_EQ(array->pvData, nullptr);
    EXPECT_EQ(SafeArrayDestroyDescriptor(array), S_OK);

    EXPECT_EQ(SafeArrayAllocDescriptor(0, &array), E_INVALIDARG);
}

// Our own subset guards the size's arithmetic; Wine's oleaut32 computes it
// in 32 bits and allocates what remains.
#ifndef _WIN32
TEST(SafeArray, OversizedDataIsRefused)
{
    SAFEARRAY *array = nullptr;
    ASSERT_EQ(SafeArrayAllocDescriptor(2, &array), S_OK);
    array->cbElements = 0x10000;
    array->rgsabound[0].cElements = 0x10000;
    array->rgsabound[1].cElements = 0x10000;
    EXPECT_EQ(SafeArrayAllocData(array), E_OUTOFMEMORY);
    EXPECT_EQ(SafeArrayDestroyDescriptor(array), S_OK);
}
#endif

TEST(SafeArray, VectorOfBstrsOwnsItsStrings)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->cbElements, sizeof(BSTR));
    EXPECT_TRUE(array->fFeatures & FADF_BSTR);
    static_cast<BSTR *>(array->pvData)[0] = SysAllocString(OLE("$GPGLL,1"));
    // Destroying frees the strings too; a leak here shows under the sanitizer.
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);

#ifndef _WIN32 // the library's own subset; Windows has VARIANT arrays
    EXPECT_EQ(SafeArrayCreateVector(static_cast<VARTYPE>(12), 0, 1), nullptr) << "VARIANT is not supported";
#endif
}

TEST(SafeArray, LockedArrayIsNotDestroyed)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_I4, 1, 4);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->rgsabound[0].lLbound, 1);
    array->cLocks = 1;
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    array->cLocks = 0;
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

} // namespace
