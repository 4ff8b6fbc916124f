#include "tools/reg/RegOps.h"

#include "platform/registry/RegKey.h"
#include "tools/reg/RegFormat.h"
#include "util/WriteAll.h"

#include <algorithm>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct CValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

bool WriteFileNoFollow(const std::string& path, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool ok = velk::WriteAll(fd, content.data(), content.size());
    return close(fd) == 0 && ok;
}

int Fail(LONG error, std::ostream& err) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
        err << "ERROR: The system was unable to find the specified registry key or value.\n";
        return kExitNotFound;
    case ERROR_ACCESS_DENIED:
        err << "ERROR: Access is denied.\n";
        return kExitDenied;
    case ERROR_BADDB: {
        const std::string why = RegGetHiveErrorText();
        err << "ERROR: " << (why.empty() ? "The registry file is damaged." : why) << "\n";
        return kExitBadHive;
    }
    default:
        err << "ERROR: The registry operation failed (error " << error << ").\n";
        return kExitFailed;
    }
}

bool Confirm(const std::string& question, std::istream& in, std::ostream& out) {
    out << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) {
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string ShownName(const std::string& name) {
    return name.empty() ? "(Default)" : RegEscapeControls(name);
}

LONG ReadValues(HKEY key, std::vector<CValue>& values) {
    values.clear();
    for (DWORD index = 0;; ++index) {
        CValue value;
        char name[REG_MAX_VALUE_NAME + 1];
        DWORD nameSize = sizeof name;
        DWORD dataSize = 0;
        LONG rc =
            RegEnumValueA(key, index, name, &nameSize, nullptr, &value.type, nullptr, &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        value.name.assign(name, nameSize);
        rc = RegQueryValueExA(key, value.name.c_str(), nullptr, &value.type, nullptr, &dataSize);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        value.data.resize(dataSize);
        rc = RegQueryValueExA(key, value.name.c_str(), nullptr, &value.type, value.data.data(),
                              &dataSize);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        value.data.resize(dataSize);
        values.push_back(std::move(value));
    }
}

LONG ReadSubKeys(HKEY key, std::vector<std::string>& names) {
    names.clear();
    for (DWORD index = 0;; ++index) {
        char name[REG_MAX_KEY_NAME + 1];
        DWORD size = sizeof name;
        const LONG rc = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        names.emplace_back(name, size);
    }
}

void PrintValue(const CValue& value, std::ostream& out) {
    out << "    " << ShownName(value.name) << "    " << RegTypeName(value.type) << "    "
        << RegEscapeControls(RegDataText(value.type, value.data)) << "\n";
}

LONG QueryTree(HKEY key, const std::string& text, bool recurse, std::ostream& out) {
    std::vector<CValue> values;
    std::vector<std::string> subKeys;
    LONG rc = ReadValues(key, values);
    if (rc == ERROR_SUCCESS) {
        rc = ReadSubKeys(key, subKeys);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    out << "\n" << RegEscapeControls(text) << "\n";
    for (const CValue& value : values) {
        PrintValue(value, out);
    }
    if (!recurse) {
        if (!subKeys.empty()) {
            out << "\n";
        }
        for (const std::string& name : subKeys) {
            out << RegEscapeControls(text + "\\" + name) << "\n";
        }
        return ERROR_SUCCESS;
    }
    for (const std::string& name : subKeys) {
        RegKey sub;
        rc = sub.Open(key, name.c_str(), KEY_READ);
        if (rc == ERROR_SUCCESS) {
            rc = QueryTree(sub.get(), text + "\\" + name, true, out);
        }
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            return rc; // a key removed meanwhile is skipped
        }
    }
    return ERROR_SUCCESS;
}

int Query(const CRegArgs& args, std::ostream& out, std::ostream& err) {
    RegKey key;
    LONG rc = key.Open(args.root, args.path.c_str(), KEY_READ);
    if (rc != ERROR_SUCCESS) {
        return Fail(rc, err);
    }
    if (!args.value) {
        rc = QueryTree(key.get(), args.KeyText(), args.recurse, out);
        if (rc != ERROR_SUCCESS) {
            return Fail(rc, err);
        }
        out << "\n";
        return kExitOk;
    }
    // Found among all values, so that the name shows as it is stored.
    std::vector<CValue> values;
    rc = ReadValues(key.get(), values);
    if (rc != ERROR_SUCCESS) {
        return Fail(rc, err);
    }
    const auto found = std::find_if(values.begin(), values.end(), [&](const CValue& value) {
        return value.name.size() == args.name.size() &&
               strncasecmp(value.name.c_str(), args.name.c_str(), args.name.size()) == 0;
    });
    if (found == values.end()) {
        return Fail(ERROR_FILE_NOT_FOUND, err);
    }
    out << "\n" << RegEscapeControls(args.KeyText()) << "\n";
    PrintValue(*found, out);
    out << "\n";
    return kExitOk;
}

int Add(const CRegArgs& args, std::istream& in, std::ostream& out, std::ostream& err) {
    DWORD type = REG_SZ;
    if (!RegTypeFromName(args.type, type)) {
        err << "ERROR: Invalid type \"" << args.type << "\".\n";
        return kExitSyntax;
    }
    std::vector<BYTE> data;
    if (args.value && !RegDataFromText(type, args.hasData ? args.data : "", data)) {
        err << "ERROR: The data \"" << args.data << "\" is not valid for " << RegTypeName(type)
            << ".\n";
        return kExitFailed;
    }
    RegKey key;
    LONG rc = key.Create(args.root, args.path.c_str(), KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) {
        return Fail(rc, err);
    }
    if (args.value) {
        DWORD size = 0;
        const bool exists = RegQueryValueExA(key.get(), args.name.c_str(), nullptr, nullptr,
                                             nullptr, &size) == ERROR_SUCCESS;
        if (exists && !args.force &&
            !Confirm("Value " + ShownName(args.name) + " exists, overwrite", in, out)) {
            out << "The operation was canceled.\n";
            return kExitCanceled;
        }
        rc = RegSetValueExA(key.get(), args.name.c_str(), 0, type, data.data(),
                            static_cast<DWORD>(data.size()));
        if (rc != ERROR_SUCCESS) {
            return Fail(rc, err);
        }
    }
    out << "The operation completed successfully.\n";
    return kExitOk;
}

int Delete(const CRegArgs& args, std::istream& in, std::ostream& out, std::ostream& err) {
    const bool wholeKey = !args.value && !args.allValues;
    RegKey key;
    LONG rc = key.Open(args.root, args.path.c_str(), wholeKey ? KEY_READ : KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) {
        return Fail(rc, err);
    }
    if (args.value) {
        DWORD size = 0;
        rc = RegQueryValueExA(key.get(), args.name.c_str(), nullptr, nullptr, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            return Fail(rc, err);
        }
    }
    std::string question;
    if (wholeKey) {
        question = "Permanently delete the registry key " + args.KeyText();
    } else if (args.allValues) {
        question = "Delete all values under the registry key " + args.KeyText();
    } else {
        question = "Delete the registry value " + ShownName(args.name);
    }
    if (!args.force && !Confirm(question, in, out)) {
        out << "The operation was canceled.\n";
        return kExitCanceled;
    }
    if (wholeKey) {
        key.Close();
        if (args.path.empty()) {
            err << "ERROR: A root key cannot be deleted.\n";
            return kExitDenied;
        }
        rc = RegDeleteTreeA(args.root, args.path.c_str());
    } else if (args.allValues) {
        std::vector<CValue> values;
        rc = ReadValues(key.get(), values);
        for (const CValue& value : values) {
            if (rc == ERROR_SUCCESS) {
                rc = RegDeleteValueA(key.get(), value.name.c_str());
            }
        }
    } else {
        rc = RegDeleteValueA(key.get(), args.name.c_str());
    }
    if (rc != ERROR_SUCCESS) {
        return Fail(rc, err);
    }
    out << "The operation completed successfully.\n";
    return kExitOk;
}

LONG ExportTree(HKEY key, const std::string& text, std::ostream& file) {
    std::vector<CValue> values;
    std::vector<std::string> subKeys;
    LONG rc = ReadValues(key, values);
    if (rc == ERROR_SUCCESS) {
        rc = ReadSubKeys(key, subKeys);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    file << "\n[" << RegEscapeControls(text) << "]\n";
    for (const CValue& value : values) {
        file << RegExportLine(value.name, value.type, value.data) << "\n";
    }
    for (const std::string& name : subKeys) {
        RegKey sub;
        rc = sub.Open(key, name.c_str(), KEY_READ);
        if (rc == ERROR_SUCCESS) {
            rc = ExportTree(sub.get(), text + "\\" + name, file);
        }
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

int Export(const CRegArgs& args, std::istream& in, std::ostream& out, std::ostream& err) {
    RegKey key;
    LONG rc = key.Open(args.root, args.path.c_str(), KEY_READ);
    if (rc != ERROR_SUCCESS) {
        return Fail(rc, err);
    }
    struct stat st {};
    if (stat(args.file.c_str(), &st) == 0 && !args.force &&
        !Confirm("File " + args.file + " already exists. Overwrite", in, out)) {
        out << "The operation was canceled.\n";
        return kExitCanceled;
    }
    std::ostringstream file;
    file << "VELKORA REGISTRY EXPORT 1\n";
    rc = ExportTree(key.get(), args.KeyText(), file);
    if (rc != ERROR_SUCCESS) {
        return Fail(rc, err);
    }
    file << "\n";
    // Never through a link: in a shared folder someone else may have left one, pointing at a
    // file of the user's (or of root's, for an export run as root).
    if (!WriteFileNoFollow(args.file, file.str())) {
        err << "ERROR: Cannot write the file " << args.file << ".\n";
        return kExitFailed;
    }
    out << "The operation completed successfully.\n";
    return kExitOk;
}

} // namespace

int RunRegCommand(const CRegArgs& args, std::istream& in, std::ostream& out, std::ostream& err) {
    switch (args.op) {
    case CRegArgs::Op::Query:
        return Query(args, out, err);
    case CRegArgs::Op::Add:
        return Add(args, in, out, err);
    case CRegArgs::Op::Delete:
        return Delete(args, in, out, err);
    case CRegArgs::Op::Export:
        return Export(args, in, out, err);
    case CRegArgs::Op::Help:
        break;
    }
    PrintRegUsage(out);
    return kExitOk;
}

void PrintRegUsage(std::ostream& out) {
    out << "velkora-reg: query and change the Velkora registry hives.\n"
           "\n"
           "  velkora-reg query  KEY [/v NAME | /ve] [/s]\n"
           "  velkora-reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
           "  velkora-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
           "  velkora-reg export KEY FILE [/y]\n"
           "\n"
           "KEY    ROOT\\SubKey, ROOT one of HKLM, HKEY_LOCAL_MACHINE, HKCU, HKEY_CURRENT_USER.\n"
           "/v     the value NAME; /ve the default (unnamed) value; /va all values of the key.\n"
           "/s     query the key and all keys below it.\n"
           "/t     REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
           "       REG_BINARY or REG_NONE.\n"
           "/d     the data: text; a decimal or 0x-hex number; hex digits for binary;\n"
           "       \"\\0\" between the strings of REG_MULTI_SZ.\n"
           "/f     add or delete without asking; /y overwrite the export file without asking.\n"
           "       Without them the question is read from standard input.\n"
           "\n"
           "The hive files: HKLM in $VELKORA_MACHINE_HIVE or /etc/velkora/machine.hive,\n"
           "HKCU in $VELKORA_USER_HIVE or $XDG_CONFIG_HOME/velkora/user.hive.\n"
           "\n"
           "Exit codes:\n"
           "  0  success\n"
           "  1  invalid command line\n"
           "  2  the key or value was not found\n"
           "  3  access denied (the hive may not be written by this user)\n"
           "  4  the hive file is damaged or not a registry file (it is left unchanged)\n"
           "  5  other failure (data not valid for its type, the export file not writable)\n"
           "  6  canceled: the question was answered No\n";
}
