#pragma once
// Class factories and the module entry points of an in-process server,
// and creation of classes that the registry names: CoCreateInstance looks
// a class up in the process's class table first and then loads the module
// registered for it (HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32) and asks
// its DllGetClassObject.
#include <string>

#include "platform/com/ClassTable.h"

struct IClassFactory : IUnknown {
    VA_INTERFACE_ID("00000001-0000-0000-C000-000000000046");
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(bool lock) = 0;
};

// The entry points a module exports (C linkage, no exception crosses them).
using DllGetClassObjectFunction = HRESULT (*)(const CLSID* clsid, const IID* riid, void** ppv);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();

constexpr HRESULT CO_E_CLASSSTRING = HR(0x800401F3);
constexpr HRESULT HRESULT_MOD_NOT_FOUND = HR(0x8007007E);   // ERROR_MOD_NOT_FOUND
constexpr HRESULT HRESULT_PROC_NOT_FOUND = HR(0x8007007F);  // ERROR_PROC_NOT_FOUND
constexpr HRESULT SELFREG_E_TYPELIB = HR(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = HR(0x80040201);

// Makes CoCreateInstance load registered modules for classes the class
// table does not have (called by CLSIDFromProgID as well).
void EnableRegisteredModules();

// The class registered under a ProgID (HKEY_CLASSES_ROOT\<ProgID>\CLSID);
// REGDB_E_CLASSNOTREG when there is none, CO_E_CLASSSTRING when its text is
// no class id.
HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid);

// The module file registered for a class; empty when none is.
std::string GetRegisteredModulePath(REFCLSID clsid);

// Loads a module (once per path) and finds an entry point; null with the
// reason in *error when it cannot. Modules stay loaded for the process.
void* LoadModuleEntry(const std::string& path, const char* entry, HRESULT* hr, std::string* error);
