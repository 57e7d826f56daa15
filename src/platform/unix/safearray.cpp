#include <stdlib.h>
#include <string.h>

#include "halvex32.h"

/* Like Windows, every descriptor is preceded by 16 bytes; the element type of
 * a vector sits in the last 4 of them. */
enum { DescriptorPrefix = 16 };

static unsigned char *DescriptorBase(SAFEARRAY *array) { return (unsigned char *)array - DescriptorPrefix; }

HRESULT SafeArrayAllocDescriptor(UINT dims, SAFEARRAY **out)
{
    if (!out || dims == 0 || dims > 0xFFFF)
        return E_INVALIDARG;
    size_t size = sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
    unsigned char *base = (unsigned char *)calloc(1, DescriptorPrefix + size);
    if (!base)
        return E_OUTOFMEMORY;
    *out = (SAFEARRAY *)(base + DescriptorPrefix);
    (*out)->cDims = (USHORT)dims;
    return S_OK;
}

/* Elements over all dimensions, or -1 when the size does not fit. */
static int64_t ElementCount(const SAFEARRAY *array)
{
    uint64_t count = 1;
    for (USHORT d = 0; d < array->cDims; d++) {
        count *= array->rgsabound[d].cElements;
        if (count > 0x7FFFFFFFu)
            return -1;
    }
    return (int64_t)count;
}

HRESULT SafeArrayAllocData(SAFEARRAY *array)
{
    if (!array)
        return E_INVALIDARG;
    int64_t count = ElementCount(array);
    if (count < 0 || (uint64_t)count * array->cbElements > 0x7FFFFFFFu)
        return E_OUTOFMEMORY;
    size_t bytes = (size_t)count * array->cbElements;
    void *data = calloc(1, bytes ? bytes : 1);
    if (!data)
        return E_OUTOFMEMORY;
    array->pvData = data;
    return S_OK;
}

/* Whether an array may be destroyed: not while it is locked. */
static HRESULT MayDestroy(const SAFEARRAY *array)
{
    if (!array)
        return E_INVALIDARG;
    return array->cLocks ? DISP_E_ARRAYISLOCKED : S_OK;
}

HRESULT SafeArrayDestroyData(SAFEARRAY *array)
{
    HRESULT result = MayDestroy(array);
    if (result != S_OK)
        return result;
    if (array->pvData && (array->fFeatures & FADF_BSTR)) {
        BSTR *strings = (BSTR *)array->pvData;
        int64_t count = ElementCount(array);
        for (int64_t i = 0; i < count; i++)
            SysFreeString(strings[i]);
    }
    free(array->pvData);
    array->pvData = NULL;
    return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY *array)
{
    HRESULT result = MayDestroy(array);
    if (result == S_OK)
        free(DescriptorBase(array));
    return result;
}

static ULONG ElementSize(VARTYPE type)
{
    switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_ERROR: case VT_INT: case VT_UINT: return 4;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    case VT_BSTR: return sizeof(BSTR);
    default: return 0;
    }
}

SAFEARRAY *SafeArrayCreateVector(VARTYPE type, LONG lowerBound, ULONG elements)
{
    ULONG size = ElementSize(type);
    SAFEARRAY *array;
    if (size == 0 || SafeArrayAllocDescriptor(1, &array) != S_OK)
        return NULL;
    array->cbElements = size;
    array->fFeatures = FADF_HAVEVARTYPE | (type == VT_BSTR ? FADF_BSTR : 0);
    array->rgsabound[0].cElements = elements;
    array->rgsabound[0].lLbound = lowerBound;
    uint32_t storedType = type;
    memcpy(DescriptorBase(array) + DescriptorPrefix - sizeof storedType, &storedType, sizeof storedType);
    if (SafeArrayAllocData(array) != S_OK) {
        SafeArrayDestroyDescriptor(array);
        return NULL;
    }
    return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY *array)
{
    if (!array)
        return S_OK;
    HRESULT result = SafeArrayDestroyData(array);
    return result == S_OK ? SafeArrayDestroyDescriptor(array) : result;
}
