#pragma once

/* The interface between the provider layer (CryptAcquireContextA and friends)
 * and a provider module: a shared library registered in the machine hive under
 *   HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider\<name>
 *     "Image Path" REG_SZ  absolute path of the library
 *     "Type"       REG_DWORD 1 (PROV_RSA_FULL)
 * The library exports one C function, VELK_PROVIDER_ENTRY_POINT, that returns
 * its table of functions. Plain C so that a module can be written in C or C++
 * and built apart from this project.
 *
 * Rules for every function of the table:
 * - The result is 0 for success or an error code as GetLastError would give
 *   it (NTE_..., SCARD_..., ERROR_... values); the layer hands it on.
 * - Output buffers follow one convention: `buffer` null asks for the size,
 *   which goes to *length, result 0; a buffer smaller than *length in bytes
 *   gives ERROR_MORE_DATA (234) with the size needed in *length; on success
 *   *length is the number of bytes written. Names are UTF-8 with their NUL
 *   counted in the length.
 * - The layer never calls two functions with the same handle at once; it may
 *   call with different handles from different threads at the same time.
 * - Nothing may be thrown across this boundary.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELK_PROVIDER_INTERFACE_VERSION 1u
#define VELK_PROVIDER_ENTRY_POINT "VelkGetProviderInterface"

/* A module's own state for one acquired context. */
typedef struct VelkProviderHandle VelkProviderHandle;

typedef struct VelkProviderFunctions {
    /* VELK_PROVIDER_INTERFACE_VERSION as the module was built with it. */
    uint32_t version;
    /* sizeof(VelkProviderFunctions) as the module was built with it; the layer
     * uses only the entries that fit. */
    uint32_t size;

    /* Opens a context. container is exactly what the caller of
     * CryptAcquireContextA gave: null, "", a plain name, "\\.\<reader>\" (a
     * whole reader) or "\\.\<reader>\<name>". flags are CryptAcquireContextA's
     * (CRYPT_VERIFYCONTEXT, CRYPT_NEWKEYSET, CRYPT_SILENT...); CRYPT_DELETEKEYSET
     * is passed on too: the module deletes the container, returns 0 and sets
     * *handle to null. A missing container is NTE_BAD_KEYSET (0x80090016). */
    uint32_t (*acquire)(const char* container, uint32_t flags, VelkProviderHandle** handle);
    /* Ends a context; handle is never null. */
    void (*release)(VelkProviderHandle* handle);

    /* The name of container number `index` of the context's scope (its reader,
     * or all the module can see). index 0 starts a fresh listing (the module
     * may take its snapshot then); then 1, 2, ... ERROR_NO_MORE_ITEMS (259)
     * after the last. Names are those to put after "\\.\<reader>\". */
    uint32_t (*enum_containers)(VelkProviderHandle* handle, uint32_t index, char* name,
                                size_t* length);
    /* The context's container name (PP_CONTAINER). */
    uint32_t (*get_container_name)(VelkProviderHandle* handle, char* name, size_t* length);

    /* 0 when the container holds a key of that kind (AT_KEYEXCHANGE 1,
     * AT_SIGNATURE 2), else NTE_NO_KEY (0x8009000D). */
    uint32_t (*get_user_key)(VelkProviderHandle* handle, uint32_t key_spec);
    /* The DER certificate of that key (KP_CERTIFICATE). */
    uint32_t (*get_key_certificate)(VelkProviderHandle* handle, uint32_t key_spec,
                                    uint8_t* certificate, size_t* length);

    /* A provider parameter set by the caller (PP_KEYEXCHANGE_PIN 32,
     * PP_SIGNATURE_PIN 33): the value's bytes without NUL. Values may be PINs
     * or commands such as "md@cp@0" + selector; the module wipes what it
     * copies. */
    uint32_t (*set_param)(VelkProviderHandle* handle, uint32_t param, const uint8_t* value,
                          size_t length);

    /* RSA PKCS#1 v1.5 decryption with the key of that kind: ciphertext in
     * natural (big-endian) byte order, the recovered message out. Used for the
     * wrapped content key of an enveloped message. */
    uint32_t (*decrypt)(VelkProviderHandle* handle, uint32_t key_spec, const uint8_t* ciphertext,
                        size_t ciphertext_length, uint8_t* plaintext, size_t* plaintext_length);
} VelkProviderFunctions;

/* The entry point: returns the table (static storage, valid while the module
 * is loaded) for the interface version the layer asks for, or null when the
 * module cannot serve it. */
typedef const VelkProviderFunctions* (*VelkGetProviderInterfaceFn)(uint32_t requested_version);

#ifdef __cplusplus
}
#endif
