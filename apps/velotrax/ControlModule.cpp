#include "apps/velotrax/ControlModule.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/com/ClassFactory.h"
#include "platform/com/Guid.h"
#include "platform/registry/Registry.h"

namespace {

const char* const kClassKeys[] = {
    "CLSID\\{6BA242CC-B9A8-4255-AC01-D88F6B7F483B}",
    "Velotrax.VelotraxCtrl.1",
    "TypeLib\\{304AA1AC-085D-4D55-ACE8-2E251D3A9B1E}",
    "Interface\\{E9F13246-C563-4172-8D27-665F825C5704}",
    "Interface\\{BD78ED38-8800-40BE-86E8-542EF79F0D57}",
    "Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
    "Component Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
};

void PrintKey(FILE* out, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    std::fprintf(out, "[HKEY_CLASSES_ROOT\\%s]\n", path.c_str());
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLength = sizeof name, type = 0, size = 0;
        if (RegEnumValue(key, i, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::string data(size, '\0');
        nameLength = sizeof name;
        RegEnumValue(key, i, name, &nameLength, nullptr, &type,
                     reinterpret_cast<BYTE*>(data.data()), &size);
        while (!data.empty() && data.back() == '\0')
            data.pop_back();
        std::string shown = nameLength ? "\"" + std::string(name, nameLength) + "\"" : "@";
        std::fprintf(out, "%s=\"%s\"\n", shown.c_str(), data.c_str());
    }
    const std::vector<std::string> children = RegSubKeyNames(key);
    RegCloseKey(key);
    for (const std::string& child : children)
        PrintKey(out, path + "\\" + child);
}

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    return std::filesystem::path(std::string(buf, size_t(n))).parent_path().string();
}

}  // namespace

std::string DefaultControlModule() {
    std::error_code ec;
    for (const char* lib : {"lib", "lib64", "lib/x86_64-linux-gnu"}) {
        std::filesystem::path installed =
            std::filesystem::path(ProgramFolder()) / ".." / lib / "libvelotrax.so";
        if (std::filesystem::exists(installed, ec))
            return std::filesystem::canonical(installed, ec).string();
    }
#ifdef VELOTRAX_BUILD_MODULE
    if (std::filesystem::exists(VELOTRAX_BUILD_MODULE, ec))
        return VELOTRAX_BUILD_MODULE;
#endif
    return std::string();
}

HRESULT RegisterControlModule(const std::string& module, bool unregister, std::string* error) {
    std::string path = module;
    if (!path.empty() && path[0] != '/') {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved))
            path = resolved;
    }
    HRESULT hr = S_OK;
    auto entry = reinterpret_cast<DllRegisterServerFunction>(LoadModuleEntry(
        path, unregister ? "DllUnregisterServer" : "DllRegisterServer", &hr, error));
    if (!entry)
        return hr;
    hr = entry();
    // The module saved its changes through its own registry store; read
    // them back into this program's.
    RegReload();
    return hr;
}

int PrintControlRegistration(FILE* out) {
    int found = 0;
    for (const char* path : kClassKeys) {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        RegCloseKey(key);
        ++found;
        PrintKey(out, path);
    }
    return found;
}

std::string HResultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", uint32_t(hr));
    return text;
}
