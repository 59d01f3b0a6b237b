#include "platform/com/ClassTable.h"

#include <atomic>
#include <map>
#include <mutex>

namespace {
std::mutex& TableLock() {
    static std::mutex lock;
    return lock;
}
std::map<GUID, ClassFactoryFunction>& Table() {
    static std::map<GUID, ClassFactoryFunction> table;
    return table;
}
std::atomic<ClassLoaderFunction> g_loader{nullptr};
}  // namespace

void SetClassLoader(ClassLoaderFunction loader) {
    g_loader = loader;
}

bool RegisterClassFactory(REFCLSID clsid, ClassFactoryFunction factory) {
    if (!factory)
        return false;
    std::lock_guard guard(TableLock());
    Table()[clsid] = std::move(factory);
    return true;
}

void UnregisterClassFactory(REFCLSID clsid) {
    std::lock_guard guard(TableLock());
    Table().erase(clsid);
}

bool IsClassRegistered(REFCLSID clsid) {
    std::lock_guard guard(TableLock());
    return Table().count(clsid) != 0;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    ClassFactoryFunction factory;
    {
        std::lock_guard guard(TableLock());
        auto it = Table().find(clsid);
        if (it != Table().end())
            factory = it->second;
    }
    if (!factory) {
        ClassLoaderFunction loader = g_loader;
        if (!loader)
            return REGDB_E_CLASSNOTREG;
        try {
            return loader(clsid, outer, riid, ppv);
        } catch (...) {
            return E_FAIL;
        }
    }
    try {
        return factory(outer, riid, ppv);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

bool IsSameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b)
        return a == b;
    CComPtr<IUnknown> ua, ub;
    a->QueryInterface(IUnknown::iid, ua.ReleaseAndGetVoidAddress());
    b->QueryInterface(IUnknown::iid, ub.ReleaseAndGetVoidAddress());
    return ua.Get() == ub.Get();
}
