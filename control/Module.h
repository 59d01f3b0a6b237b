#pragma once
#include <string>

#include "platform/com/HResult.h"

// The control module: its start and end, its registration and the count of
// its live objects (DllCanUnloadNow).

// Starts the module once (locale from string 101, company registry key).
void EnsureModuleStarted();
void ModuleObjectCreated();
void ModuleObjectDestroyed();

// The module's file, as the registry records it.
std::string ModuleFilePath();

// The registration of the control class, its type library, interfaces and
// component categories in HKEY_CLASSES_ROOT; HRESULTs as the module
// entry points answer them.
HRESULT RegisterControlModule(const std::string& modulePath);
HRESULT UnregisterControlModule();

// The module's entry points; no exception leaves them.
struct GUID;
HRESULT ModuleGetClassObject(const GUID* clsid, const GUID* riid, void** ppv);
HRESULT ModuleCanUnloadNow();
HRESULT ModuleRegisterServer();
HRESULT ModuleUnregisterServer();
