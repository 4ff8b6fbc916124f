#pragma once

// Every module of the minidriver exports its version as a C string that the
// certificate manager's module-version layer reads with dlsym, in the form of
// a file version: "major.minor.patch.build".

#define VELK_MODULE_VERSION_SYMBOL "velk_module_version"

#define VELK_DEFINE_MODULE_VERSION()                                                               \
    extern "C" __attribute__((visibility("default"), used)) const char velk_module_version[] =     \
        VELK_MODULE_VERSION_TEXT
