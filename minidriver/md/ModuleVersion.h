#pragma once

// Every module of the minidriver exports its version as a C string that the
// certificate manager's module-version layer reads with dlsym, in the form of
// a file version: "major.minor.patch.build".
//
// The modules load each other, so the symbol exists once per module by
// design; AddressSanitizer would take that for an ODR violation, hence the
// variable is left out of its instrumentation.

#define VELK_MODULE_VERSION_SYMBOL "velk_module_version"

#if defined(__clang__)
#define VELK_MODULE_VERSION_NO_ASAN __attribute__((no_sanitize("address")))
#else
#define VELK_MODULE_VERSION_NO_ASAN
#endif

#define VELK_DEFINE_MODULE_VERSION()                                                               \
    extern "C" __attribute__((visibility("default"), used))                                        \
    VELK_MODULE_VERSION_NO_ASAN const char velk_module_version[] = VELK_MODULE_VERSION_TEXT
