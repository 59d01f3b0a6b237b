#pragma once
// The in-process class table behind CoCreateInstance: each class id maps to
// a function that makes a new object. Registration is process-wide.
#include <functional>

#include "platform/com/ComPtr.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 1;

// Makes a new object (with a reference count of 0 or 1 as its class does)
// and answers the interface asked for.
using ClassFactoryFunction = std::function<HRESULT(IUnknown* outer, REFIID riid, void** ppv)>;

// Registers (or replaces) the class; returns false when 'factory' is empty.
bool RegisterClassFactory(REFCLSID clsid, ClassFactoryFunction factory);
void UnregisterClassFactory(REFCLSID clsid);
bool IsClassRegistered(REFCLSID clsid);

// Asked by CoCreateInstance for a class the table does not have (the
// registered in-process servers); REGDB_E_CLASSNOTREG when it has none.
using ClassLoaderFunction = HRESULT (*)(REFCLSID clsid, IUnknown* outer, REFIID riid, void** ppv);
void SetClassLoader(ClassLoaderFunction loader);

// Helper for the common case: a class made with new and queried for riid.
template <class T>
HRESULT CreateAndQuery(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    T* object = new T();
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}
