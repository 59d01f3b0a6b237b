// velotrax register [--unregister] [MODULE]: registers the control module
// (or removes its registration) and prints what the registry holds for it.
#include <cstdio>

#include "apps/velotrax/Command.h"
#include "apps/velotrax/ControlModule.h"
#include "platform/com/ErrorText.h"
#include "platform/registry/Registry.h"

namespace {

int RunRegister(int argc, char** argv) {
    CCommandLine cl("register", {"[--unregister] [MODULE]"},
                    "Registers the control module MODULE (default: the module installed with\n"
                    "this program) under its ProgID Velotrax.VelotraxCtrl.1 in the current\n"
                    "user's registry and prints the keys written; --unregister removes them.");
    cl.AddOption({"unregister", "u"}, "remove the registration");
    if (auto status = cl.Parse(argc, argv))
        return *status;
    if (cl.Positional().size() > 1)
        return cl.UsageError("give at most one MODULE");
    std::string module = cl.Positional().empty() ? DefaultControlModule() : cl.Positional()[0];
    if (module.empty()) {
        std::fprintf(stderr, "velotrax register: the control module is not installed\n");
        return kExitFailure;
    }
    const bool unregister = cl.IsSet("unregister");
    std::string error;
    HRESULT hr = RegisterControlModule(module, unregister, &error);
    if (FAILED(hr)) {
        if (error.empty())
            error = (unregister ? "DllUnregisterServer failed" : "DllRegisterServer failed");
        std::fprintf(stderr, "velotrax register: %s (%s)\n", error.c_str(),
                     HResultText(hr).c_str());
        return kExitFailure;
    }
    if (unregister) {
        std::printf("unregistered %s\n", module.c_str());
        PrintControlRegistration(stdout);
    } else {
        std::printf("registered %s\n", module.c_str());
        PrintControlRegistration(stdout);
    }
    std::printf("registry file: %s\n", RegUserFilePath().c_str());
    return kExitOk;
}

CCommandRegistrar reg({"register", "register the control module (regsvr)", &RunRegister});

}  // namespace
