#pragma once

// The registry, Win32-shaped: two roots, each one SQLite hive file.
//   HKEY_LOCAL_MACHINE  /etc/velkora/machine.hive (or $VELKORA_MACHINE_HIVE)
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/velkora/user.hive (or $VELKORA_USER_HIVE)
// Key and value names compare case-insensitively (ASCII) and keep the spelling
// they were created with; subkey paths separate their parts with backslashes.
// Access rights come from the file system: write access to a hive file the
// process cannot write is ERROR_ACCESS_DENIED. A file that is damaged or not a
// hive is ERROR_BADDB and is never modified.
//
// All calls are thread-safe; a handle may be used from several threads.
// REG_DWORD data is 4 bytes (use uint32_t, not DWORD, which is 8 bytes here).

#include "platform/registry/WinTypes.h"

#include <cstdint>
#include <string>
#include <string_view>

struct HKEY__;
typedef HKEY__* HKEY;
typedef DWORD REGSAM;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_DELETE = 0x00010000; // the standard right DELETE
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Name limits in characters, without the terminating NUL.
constexpr DWORD REG_MAX_KEY_NAME = 255;
constexpr DWORD REG_MAX_VALUE_NAME = 16383;

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                     LPDWORD lpdwDisposition);
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult);
LONG RegCloseKey(HKEY hKey);

// lpData may be null to ask for the size; a buffer too small gives
// ERROR_MORE_DATA with the needed size in *lpcbData and the type in *lpType.
// String data is returned as stored (with its NUL only if it was stored).
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some).
LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
// Deletes a key with everything below it; a null lpSubKey empties hKey itself.
LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);

// Subkeys come in case-insensitive name order, values in the order they were
// first set. Name sizes are in characters: in, the buffer including its NUL;
// out, the name without it.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, void* lpftLastWriteTime);
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, void* lpftLastWriteTime);

// A number that changes whenever the hive holding hKey was changed, by this
// process or any other, since the last call. Cheap enough to poll often: an
// unchanged stamp means there is nothing new to read.
LONG RegQueryChangeStamp(HKEY hKey, uint64_t* stamp);

// ERROR_SUCCESS when the root's hive file is usable or absent (an absent hive
// reads as empty), ERROR_BADDB or ERROR_ACCESS_DENIED when it is not.
LONG RegCheckHive(HKEY root);

// The last hive problem, in words for the user (empty when there was none).
// The same text went to stderr when the problem was first found.
std::string RegGetHiveErrorText();

// The path of a root's hive file as it is chosen now.
std::string RegHivePath(HKEY root);

// "HKLM", "HKEY_LOCAL_MACHINE", "HKCU", "HKEY_CURRENT_USER" (any case) to a
// root; null for anything else. RegRootName gives the long name.
HKEY RegRootFromName(std::string_view name);
const char* RegRootName(HKEY root);

// Closes every hive and handle and reads the hive paths from the environment
// again on the next call. For tests.
void RegResetForTests();
