#pragma once
// The program's view of the control module: where the built or installed
// module is, its registration, and the registry keys it writes.
#include <cstdio>
#include <string>

#include "platform/com/HResult.h"

// The module next to the installed program (../lib/libvelotrax.so), else
// the one in the build tree; empty when neither exists.
std::string DefaultControlModule();

// Runs the module's DllRegisterServer (or DllUnregisterServer); *error
// tells why the module could not be asked.
HRESULT RegisterControlModule(const std::string& module, bool unregister, std::string* error);

// Prints the keys below HKEY_CLASSES_ROOT that registration writes, as
// REGEDIT4 text; returns how many of the keys exist.
int PrintControlRegistration(FILE* out);

// "0x%08X".
std::string HResultText(HRESULT hr);
