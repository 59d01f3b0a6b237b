#include <cstdlib>
#include <new>

#include "platform/dshow/Filters.h"

void* CoTaskMemAlloc(size_t size) {
    return std::malloc(size ? size : 1);
}

void CoTaskMemFree(void* p) {
    std::free(p);
}

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat)
        CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk)
        mt.pUnk->Release();
    mt.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return;
    FreeMediaType(*pmt);
    delete pmt;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
    if (!dst || !src)
        return E_POINTER;
    *dst = *src;
    dst->pbFormat = nullptr;
    dst->cbFormat = 0;
    if (src->cbFormat && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            dst->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
        dst->cbFormat = src->cbFormat;
    }
    if (dst->pUnk)
        dst->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src) {
    auto* mt = new (std::nothrow) AM_MEDIA_TYPE();
    if (!mt)
        return nullptr;
    if (src && FAILED(CopyMediaType(mt, src))) {
        delete mt;
        return nullptr;
    }
    return mt;
}
