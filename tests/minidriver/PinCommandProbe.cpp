// Runs one PIN command through the provider, as the certificate manager does
// from its certificates dialog, in a process that knows no PIN itself:
//   velk_pin_command_probe CONTAINER COMMAND
// CONTAINER is "\\.\<reader>\<name>"; the hives, the PC/SC socket and the PIN
// entry program come from the environment. The exit status is 0 for success,
// 1 for any other result (printed in hex), 2 when the context cannot be had.

#include "platform/crypto/WinCrypt.h"

#include <cstdio>
#include <dlfcn.h>
#include <sys/prctl.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: velk_pin_command_probe CONTAINER COMMAND\n");
        return 2;
    }
    // The test takes a core of this process where ptrace is limited to
    // ancestors.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    // The certificate manager has libdbus loaded for good (through Qt); here
    // only the provider's module brings it, and unloading it would leave the
    // session-bus connection libdbus keeps for the process as a leak.
    dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_NODELETE);
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, argv[1], "Velkora Base Smart Card Crypto Provider",
                              PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        std::fprintf(stderr, "no context: %lx\n", static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    const auto* command = reinterpret_cast<const BYTE*>(argv[2]);
    const DWORD result =
        CryptSetProvParam(prov, PP_KEYEXCHANGE_PIN, command, 0) ? 0 : GetLastError();
    CryptSetProvParam(prov, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>("md@cls@@"), 0);
    CryptReleaseContext(prov, 0);
    std::printf("%lx\n", static_cast<unsigned long>(result));
    return result == 0 ? 0 : 1;
}
