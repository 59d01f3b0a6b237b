#pragma once
// The registry of this platform: a hierarchical store of keys and typed
// values under two roots, the current user's (saved in
// $XDG_CONFIG_HOME/velotrax/user.reg) and the machine's (read-only, from
// /etc/xdg/velotrax/system.reg). The functions carry the Win32 names, take
// the same arguments and answer Win32 error codes, so registry code reads
// the same here as on Windows.
//
// Changes stay in memory until RegFlushKey or the end of the process; a
// save merges them with whatever other processes saved meanwhile.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/HResult.h"

struct RegKeyHandle;
using HKEY = RegKeyHandle*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LPDWORD = DWORD*;

// The predefined roots.
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t(0x80000001));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t(0x80000002));
// The current user's class registrations: Software\Classes below
// HKEY_CURRENT_USER (created when a key is first created below it).
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t(0x80000000));

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Options and dispositions of RegCreateKeyEx.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Win32 errors the registry answers beside those of HResult.h.
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;  // a name or key path over the limits
constexpr LONG ERROR_NOT_ENOUGH_QUOTA = 1816;     // value data over the size limit

// Limits that keep hostile or damaged files from exhausting the process.
constexpr size_t kRegMaxKeyDepth = 64;            // key names below a root
constexpr size_t kRegMaxKeyNameLength = 255;      // one key name, in bytes
constexpr size_t kRegMaxValueNameLength = 255;    // one value name, in bytes
constexpr size_t kRegMaxValueSize = 1024 * 1024;  // value data, in bytes

struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM desired, PHKEY result);
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                    REGSAM desired, void* security, PHKEY result, LPDWORD disposition);
LONG RegCloseKey(HKEY key);
// data may be null to learn type and size; *size is in bytes. ERROR_MORE_DATA
// (with the size needed) when the buffer is too small.
LONG RegQueryValueEx(HKEY key, const char* valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                     LPDWORD size);
LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD size);
LONG RegDeleteValue(HKEY key, const char* valueName);
// Deletes a key that has no sub-keys (ERROR_ACCESS_DENIED when it has some).
LONG RegDeleteKey(HKEY key, const char* subKey);
// *nameLength: in, the buffer's size in characters with the terminating zero;
// out, the name's length without it.
LONG RegEnumValue(HKEY key, DWORD index, char* name, LPDWORD nameLength, LPDWORD reserved,
                  LPDWORD type, BYTE* data, LPDWORD size);
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, LPDWORD nameLength, LPDWORD reserved = nullptr,
                  char* keyClass = nullptr, LPDWORD classLength = nullptr,
                  FILETIME* lastWriteTime = nullptr);
// The names of a key's sub-keys in the store's order (empty when the key
// cannot be enumerated).
std::vector<std::string> RegSubKeyNames(HKEY key);
// Saves the pending changes of the current user's keys to the user file.
LONG RegFlushKey(HKEY key);

// A readable text for the registry's own error codes (limits, deleted keys),
// falling back to the system's messages.
std::string RegErrorText(LONG error);

// Where the current user's keys are saved.
std::string RegUserFilePath();
// Points the store at other files (tests, tools): pending changes are
// saved first, then both roots are read again from the new files. Empty
// paths return to the defaults. When the save fails, the changes are kept,
// the files stay as they were and the error is answered.
LONG RegSetFilePaths(const std::string& userFile, const std::string& machineFile);
// Forgets what was read and reads the files again on next use; pending
// changes are saved first (a failed save keeps them and answers its error).
LONG RegReload();
