// The entry points the module exports with C linkage; the only symbols of
// the module besides the Qt widget classes for applications.
#include "control/Module.h"
#include "platform/com/Guid.h"

#define VELOTRAX_EXPORT extern "C" __attribute__((visibility("default")))

VELOTRAX_EXPORT HRESULT DllGetClassObject(const CLSID* clsid, const IID* riid, void** ppv) {
    return ModuleGetClassObject(clsid, riid, ppv);
}

VELOTRAX_EXPORT HRESULT DllCanUnloadNow() {
    return ModuleCanUnloadNow();
}

VELOTRAX_EXPORT HRESULT DllRegisterServer() {
    return ModuleRegisterServer();
}

VELOTRAX_EXPORT HRESULT DllUnregisterServer() {
    return ModuleUnregisterServer();
}
