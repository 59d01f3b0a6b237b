// The control module: start and end, class factory, registration and the
// exported entry points.
#include "control/Module.h"

#include <QApplication>
#include <atomic>
#include <clocale>
#include <new>
#include <vector>

#include "control/VelotraxIds.h"
#include "control/VelotraxOleCtrl.h"
#include "options/AppOptStgRegDb.h"
#include "options/AppOptions.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/VersionResource.h"
#include "platform/registry/Registry.h"
#include "resources/StringTable.h"

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

class CVelotraxOcxApp {
public:
    CVelotraxOcxApp() {
        SetLocaleFromResources();
        SetRegistryKey("Korvani");
        // The option store is made first so that it outlives the module.
        GetAppOptions();
    }
    ~CVelotraxOcxApp() {
        try {
            GetAppOptions().Flush();
        } catch (...) {
        }
    }
};

class CVelotraxClassFactory : public CUnknownImpl<CVelotraxClassFactory, IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            SetErrorDescription("The Velotrax control needs a QApplication.", "Velotrax");
            return E_UNEXPECTED;
        }
        return CreateAndQuery<CVelotraxOleCtrl>(outer, riid, ppv);
    }
    HRESULT LockServer(bool lock) override {
        g_locks += lock ? 1 : -1;
        return S_OK;
    }
};

// ---------------------------------------------------------------- registry

LONG SetValue(const std::string& subKey, const char* name, const std::string& value) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD(value.size() + 1));
    RegCloseKey(key);
    return rc;
}

LONG CreateKey(const std::string& subKey) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS)
        RegCloseKey(key);
    return rc;
}

// Deletes a key with everything below it; a missing key is no failure.
LONG DeleteTree(const std::string& subKey) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
        return rc;
    const std::vector<std::string> children = RegSubKeyNames(key);
    RegCloseKey(key);
    for (const std::string& child : children)
        if (LONG r = DeleteTree(subKey + "\\" + child); r != ERROR_SUCCESS)
            return r;
    rc = RegDeleteKey(HKEY_CLASSES_ROOT, subKey.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

std::string ClassKey() {
    return "CLSID\\" + GuidToString(CLSID_Velotrax);
}

LONG RegisterTypeLib(const std::string& modulePath) {
    const std::string lib = "TypeLib\\" + GuidToString(LIBID_VELOTRAXOCXLib) + "\\1.0";
    std::string folder = modulePath.substr(0, modulePath.find_last_of('/') + 1);
    LONG rc = ERROR_SUCCESS;
    auto set = [&](const std::string& k, const char* n, const std::string& v) {
        if (rc == ERROR_SUCCESS)
            rc = SetValue(k, n, v);
    };
    set(lib, "", "VelotraxOcx ActiveX Control module");
    set(lib + "\\0\\linux", "", modulePath);
    set(lib + "\\FLAGS", "", "0");
    set(lib + "\\HELPDIR", "", folder);
    struct {
        const IID& iid;
        const char* name;
    } interfaces[] = {{DIID__DVelotrax, "_DVelotrax"}, {DIID__DVelotraxEvents, "_DVelotraxEvents"}};
    for (const auto& i : interfaces) {
        std::string key = "Interface\\" + GuidToString(i.iid);
        set(key, "", i.name);
        set(key + "\\ProxyStubClsid32", "", "{00020420-0000-0000-C000-000000000046}");
        set(key + "\\TypeLib", "", GuidToString(LIBID_VELOTRAXOCXLib));
        set(key + "\\TypeLib", "Version", "1.0");
    }
    return rc;
}

LONG RegisterClass(const std::string& modulePath) {
    const std::string cls = ClassKey();
    const std::string typeName = LoadResString(IDS_CONTROL_TYPE_NAME);
    LONG rc = ERROR_SUCCESS;
    auto set = [&](const std::string& k, const char* n, const std::string& v) {
        if (rc == ERROR_SUCCESS)
            rc = SetValue(k, n, v);
    };
    set(cls, "", typeName);
    set(cls + "\\InprocServer32", "", modulePath);
    set(cls + "\\InprocServer32", "ThreadingModel", "Apartment");
    set(cls + "\\ProgID", "", kVelotraxProgID);
    set(cls + "\\ToolboxBitmap32", "", modulePath + ", 1");
    set(cls + "\\MiscStatus", "", "0");
    set(cls + "\\MiscStatus\\1", "", std::to_string(kVelotraxMiscStatus));
    set(cls + "\\TypeLib", "", GuidToString(LIBID_VELOTRAXOCXLib));
    set(cls + "\\Version", "", "1.0");
    if (rc == ERROR_SUCCESS)
        rc = CreateKey(cls + "\\Control");
    set(kVelotraxProgID, "", typeName);
    set(std::string(kVelotraxProgID) + "\\CLSID", "", GuidToString(CLSID_Velotrax));
    return rc;
}

// The component categories manager's part: the categories and the class's
// implemented categories.
LONG RegisterCategories() {
    LONG rc = SetValue("Component Categories\\" + GuidToString(CATID_SafeForScripting), "409",
                       "Controls safely scriptable!");
    if (rc == ERROR_SUCCESS)
        rc = SetValue("Component Categories\\" + GuidToString(CATID_SafeForInitializing), "409",
                      "Controls safely initializable from persistent data!");
    for (const GUID& cat : {CATID_SafeForScripting, CATID_SafeForInitializing})
        if (rc == ERROR_SUCCESS)
            rc = CreateKey(ClassKey() + "\\Implemented Categories\\" + GuidToString(cat));
    return rc;
}

}  // namespace

void EnsureModuleStarted() {
    static CVelotraxOcxApp app;
}

void ModuleObjectCreated() {
    ++g_objects;
}

void ModuleObjectDestroyed() {
    --g_objects;
}

std::string ModuleFilePath() {
    return GetModuleFileName(reinterpret_cast<const void*>(&ModuleFilePath));
}

HRESULT RegisterControlModule(const std::string& modulePath) {
    if (RegisterTypeLib(modulePath) != ERROR_SUCCESS)
        return SELFREG_E_TYPELIB;
    if (RegisterClass(modulePath) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    RegisterCategories();
    RegFlushKey(HKEY_CURRENT_USER);
    return S_OK;
}

HRESULT UnregisterControlModule() {
    DeleteTree(ClassKey() + "\\Implemented Categories");
    HRESULT hr = S_OK;
    if (DeleteTree("TypeLib\\" + GuidToString(LIBID_VELOTRAXOCXLib)) != ERROR_SUCCESS ||
        DeleteTree("Interface\\" + GuidToString(DIID__DVelotrax)) != ERROR_SUCCESS ||
        DeleteTree("Interface\\" + GuidToString(DIID__DVelotraxEvents)) != ERROR_SUCCESS)
        hr = SELFREG_E_TYPELIB;
    else if (DeleteTree(ClassKey()) != ERROR_SUCCESS ||
             DeleteTree(kVelotraxProgID) != ERROR_SUCCESS)
        hr = SELFREG_E_CLASS;
    RegFlushKey(HKEY_CURRENT_USER);
    return hr;
}

// ---------------------------------------------------------------- entry points
// (exported with C linkage by the module, ModuleExports.cpp)

HRESULT ModuleGetClassObject(const CLSID* clsid, const IID* riid, void** ppv) {
    try {
        if (!clsid || !riid || !ppv)
            return E_POINTER;
        *ppv = nullptr;
        EnsureModuleStarted();
        if (!(*clsid == CLSID_Velotrax))
            return CLASS_E_CLASSNOTAVAILABLE;
        auto* factory = new CVelotraxClassFactory;
        factory->AddRef();
        HRESULT hr = factory->QueryInterface(*riid, ppv);
        factory->Release();
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ModuleCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

HRESULT ModuleRegisterServer() {
    try {
        EnsureModuleStarted();
        std::string path = ModuleFilePath();
        if (path.empty())
            return SELFREG_E_CLASS;
        return RegisterControlModule(path);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ModuleUnregisterServer() {
    try {
        EnsureModuleStarted();
        return UnregisterControlModule();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
