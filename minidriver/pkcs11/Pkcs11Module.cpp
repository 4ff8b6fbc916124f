// velkora-pkcs11: the minidriver's PKCS#11 module. For now it carries its
// version and answers the standard entry point that it offers no functions
// yet, so that applications that probe it fail cleanly.

#include "minidriver/md/ModuleVersion.h"

VELK_DEFINE_MODULE_VERSION();

namespace {

constexpr unsigned long kFunctionNotSupported = 0x54; // CKR_FUNCTION_NOT_SUPPORTED
constexpr unsigned long kArgumentsBad = 0x07;         // CKR_ARGUMENTS_BAD

} // namespace

extern "C" __attribute__((visibility("default"))) unsigned long C_GetFunctionList(void** list) {
    if (list == nullptr) {
        return kArgumentsBad;
    }
    *list = nullptr;
    return kFunctionNotSupported;
}
