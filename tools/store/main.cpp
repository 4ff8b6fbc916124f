// velkora-store: list, export, delete and add certificates of the current
// user's stores, and register the card types and providers.

#include "tools/store/StoreCommands.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace velk::storetool;

namespace {

constexpr const char* kHelp = R"(Usage:
  velkora-store [-user] -store NAME                 list the certificates of a store
  velkora-store [-user] -exportcert NAME INDEX|THUMBPRINT FILE
                                                    write one certificate to FILE (DER)
  velkora-store [-user] -delstore NAME INDEX|THUMBPRINT
                                                    delete one certificate
  velkora-store [-user] -addstore NAME FILE [-container C -provider P [-keyspec N]]
                                                    add a DER or PEM certificate, optionally
                                                    linked to a key container
  velkora-store --install-card-types                register the card types (machine hive)
  velkora-store --install-providers                 register the built-in provider (machine hive)
  velkora-store --help

Stores are the current user's ("MY", "ROOT", "CA", ...). INDEX counts from 0
in store order; THUMBPRINT is the SHA-1 hash in hex.
The hive files are $VELKORA_USER_HIVE and $VELKORA_MACHINE_HIVE when set.

Exit status: 0 success, 1 usage error, 2 store or hive error,
3 no such certificate, 4 certificate file error.
)";

int Usage(const std::string& why) {
    std::cerr << "velkora-store: " << why << "\nTry 'velkora-store --help'.\n";
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-user") != 0) { // only the current user's stores exist
            args.emplace_back(argv[i]);
        }
    }
    if (args.empty()) {
        return Usage("no command given");
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-help" || command == "-?") {
        std::cout << kHelp;
        return kOk;
    }
    if (command == "--install-card-types" && args.size() == 1) {
        return InstallCardTypes(std::cerr);
    }
    if (command == "--install-providers" && args.size() == 1) {
        return InstallProviders(std::cerr);
    }
    if (command == "-store" && args.size() == 2) {
        return ListStore(args[1], std::cout, std::cerr);
    }
    if (command == "-exportcert" && args.size() == 4) {
        return ExportCertificate(args[1], args[2], args[3], std::cerr);
    }
    if (command == "-delstore" && args.size() == 3) {
        return DeleteCertificate(args[1], args[2], std::cerr);
    }
    if (command == "-addstore" && args.size() >= 3) {
        std::optional<KeyLink> link;
        for (size_t i = 3; i < args.size(); i += 2) {
            if (i + 1 >= args.size()) {
                return Usage("option " + args[i] + " needs a value");
            }
            if (!link) {
                link.emplace();
            }
            if (args[i] == "-container") {
                link->container = args[i + 1];
            } else if (args[i] == "-provider") {
                link->provider = args[i + 1];
            } else if (args[i] == "-keyspec") {
                try {
                    link->keySpec = static_cast<uint32_t>(std::stoul(args[i + 1]));
                } catch (const std::exception&) {
                    return Usage("-keyspec needs a number");
                }
            } else {
                return Usage("unknown option " + args[i]);
            }
        }
        if (link && (link->container.empty() || link->provider.empty())) {
            return Usage("-container and -provider go together");
        }
        return AddCertificate(args[1], args[2], link, std::cerr);
    }
    return Usage("unknown command or wrong number of arguments: " + command);
}
