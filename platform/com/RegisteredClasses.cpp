// Creation of classes whose in-process server the registry names.
#include <dlfcn.h>
#include <sys/stat.h>

#include <map>
#include <mutex>

#include "platform/com/ClassFactory.h"
#include "platform/com/ErrorInfo.h"
#include "platform/registry/Registry.h"

namespace {

// The default value of a key below HKEY_CLASSES_ROOT; empty when absent.
std::string ReadClassesDefault(const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::string();
    std::string value;
    DWORD type = 0, size = 0;
    if (RegQueryValueEx(key, "", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        std::string buffer(size, '\0');
        if (RegQueryValueEx(key, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                            &size) == ERROR_SUCCESS) {
            buffer.resize(std::min<size_t>(size, buffer.size()));
            while (!buffer.empty() && buffer.back() == '\0')
                buffer.pop_back();
            value = buffer;
        }
    }
    RegCloseKey(key);
    return value;
}

HRESULT LoadRegisteredClass(REFCLSID clsid, IUnknown* outer, REFIID riid, void** ppv) {
    std::string path = GetRegisteredModulePath(clsid);
    if (path.empty())
        return REGDB_E_CLASSNOTREG;
    HRESULT hr = S_OK;
    std::string error;
    auto entry = reinterpret_cast<DllGetClassObjectFunction>(
        LoadModuleEntry(path, "DllGetClassObject", &hr, &error));
    if (!entry) {
        SetErrorDescription(error, "CoCreateInstance");
        return hr;
    }
    CComPtr<IClassFactory> factory;
    hr = entry(&clsid, &IClassFactory::iid, factory.ReleaseAndGetVoidAddress());
    if (FAILED(hr))
        return hr;
    if (!factory)
        return E_UNEXPECTED;
    return factory->CreateInstance(outer, riid, ppv);
}

}  // namespace

void EnableRegisteredModules() {
    SetClassLoader(&LoadRegisteredClass);
}

HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = GUID_NULL;
    EnableRegisteredModules();
    if (progId.empty())
        return REGDB_E_CLASSNOTREG;
    std::string text = ReadClassesDefault(progId + "\\CLSID");
    if (text.empty())
        return REGDB_E_CLASSNOTREG;
    auto parsed = GuidFromString(text);
    if (!parsed || text.size() != 38)
        return CO_E_CLASSSTRING;
    *clsid = *parsed;
    return S_OK;
}

std::string GetRegisteredModulePath(REFCLSID clsid) {
    return ReadClassesDefault("CLSID\\" + GuidToString(clsid) + "\\InprocServer32");
}

void* LoadModuleEntry(const std::string& path, const char* entry, HRESULT* hr, std::string* error) {
    static std::mutex lock;
    static std::map<std::string, void*> modules;
    std::lock_guard guard(lock);
    auto fail = [&](HRESULT code, const std::string& text) -> void* {
        if (hr)
            *hr = code;
        if (error)
            *error = text;
        return nullptr;
    };
    void* handle = nullptr;
    if (auto it = modules.find(path); it != modules.end()) {
        handle = it->second;
    } else {
        struct stat st {};
        if (path.empty() || path[0] != '/' || stat(path.c_str(), &st) != 0)
            return fail(HRESULT_MOD_NOT_FOUND,
                        "The registered module " + path +
                            " does not exist (moved or deleted?); register it again.");
        // Local binding: the module keeps its own copies of everything it
        // brings and never takes the host's.
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            return fail(HRESULT_MOD_NOT_FOUND, "The registered module " + path +
                                                   " cannot be loaded: " + (why ? why : "?"));
        }
        modules[path] = handle;
    }
    void* symbol = dlsym(handle, entry);
    if (!symbol)
        return fail(HRESULT_PROC_NOT_FOUND,
                    "The module " + path + " has no entry point " + entry + ".");
    if (hr)
        *hr = S_OK;
    return symbol;
}
