// velkora-md-install: registers the minidriver's provider and card types in
// the machine hive (VELKORA_MACHINE_HIVE chooses another hive file), and the
// PKCS #11 module with p11-kit (VELKORA_P11KIT_MODULES chooses the folder).

#include "minidriver/install/MdInstall.h"
#include "minidriver/install/P11KitModule.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--uninstall" || first == "--purge")) {
        const long error =
            first == "--purge" ? velkmd::PurgeMinidriver() : velkmd::UninstallMinidriver();
        if (!velkmd::RemoveP11KitModule(velkmd::P11KitModulesFolder())) {
            std::fprintf(stderr, "velkora-md-install: the p11-kit module file stays\n");
        }
        if (error != 0) {
            std::fprintf(stderr, "velkora-md-install: uninstall failed (0x%lX)\n", error);
            return 1;
        }
        return 0;
    }
    if (argc != 2 || first.empty() || first[0] == '-') {
        std::fprintf(stderr,
                     "usage: velkora-md-install MODULE_DIRECTORY\n"
                     "       velkora-md-install --uninstall\n"
                     "       velkora-md-install --purge   (also forgets the card types)\n"
                     "Registers \"%s\" with MODULE_DIRECTORY/%s and the card types.\n",
                     velkmd::kProviderName, velkmd::kCspModuleFile);
        return 2;
    }
    const long error = velkmd::InstallMinidriver(first);
    if (error != 0) {
        std::fprintf(stderr, "velkora-md-install: registration failed (0x%lX)\n", error);
        return 1;
    }
    if (!velkmd::WriteP11KitModule(velkmd::P11KitModulesFolder(), first)) {
        std::fprintf(stderr, "velkora-md-install: cannot write the p11-kit module file\n");
        return 1;
    }
    return 0;
}
