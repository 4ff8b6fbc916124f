#include "tools/reg/RegArgs.h"

#include <strings.h>

namespace {

bool Is(const std::string& arg, const char* option) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
        return false;
    }
    return strcasecmp(arg.c_str() + 1, option) == 0;
}

bool ParseKey(const std::string& text, CRegArgs& args) {
    const size_t slash = text.find('\\');
    args.root = RegRootFromName(text.substr(0, slash));
    if (args.root == nullptr) {
        return false;
    }
    args.path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    while (!args.path.empty() && args.path.back() == '\\') {
        args.path.pop_back();
    }
    return true;
}

} // namespace

std::string CRegArgs::KeyText() const {
    std::string text = RegRootName(root);
    if (!path.empty()) {
        text += "\\" + path;
    }
    return text;
}

bool ParseRegArgs(const std::vector<std::string>& argv, CRegArgs& args, std::string& error) {
    args = CRegArgs();
    if (argv.empty() || Is(argv[0], "?") || Is(argv[0], "-help") || Is(argv[0], "h")) {
        args.op = CRegArgs::Op::Help;
        return true;
    }
    const std::string& verb = argv[0];
    if (strcasecmp(verb.c_str(), "query") == 0) {
        args.op = CRegArgs::Op::Query;
    } else if (strcasecmp(verb.c_str(), "add") == 0) {
        args.op = CRegArgs::Op::Add;
    } else if (strcasecmp(verb.c_str(), "delete") == 0) {
        args.op = CRegArgs::Op::Delete;
    } else if (strcasecmp(verb.c_str(), "export") == 0) {
        args.op = CRegArgs::Op::Export;
    } else {
        error = "unknown operation \"" + verb + "\"";
        return false;
    }
    if (argv.size() < 2 || !ParseKey(argv[1], args)) {
        error = "a key starting with HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER is needed";
        return false;
    }
    size_t next = 2;
    if (args.op == CRegArgs::Op::Export) {
        if (argv.size() < 3 || argv[2].empty()) {
            error = "export needs a file name";
            return false;
        }
        args.file = argv[2];
        next = 3;
    }
    const bool query = args.op == CRegArgs::Op::Query;
    const bool add = args.op == CRegArgs::Op::Add;
    const bool del = args.op == CRegArgs::Op::Delete;
    const bool exp = args.op == CRegArgs::Op::Export;
    for (size_t i = next; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        const bool hasNext = i + 1 < argv.size();
        if (Is(arg, "v") && !exp && hasNext && !args.value) {
            args.value = true;
            args.name = argv[++i];
        } else if (Is(arg, "ve") && !exp && !args.value) {
            args.value = true;
            args.name.clear();
        } else if (Is(arg, "va") && del && !args.value) {
            args.allValues = true;
        } else if (Is(arg, "s") && query) {
            args.recurse = true;
        } else if (Is(arg, "t") && add && hasNext) {
            args.type = argv[++i];
        } else if (Is(arg, "d") && add && hasNext) {
            args.hasData = true;
            args.data = argv[++i];
        } else if (Is(arg, "f") && (add || del)) {
            args.force = true;
        } else if (Is(arg, "y") && exp) {
            args.force = true;
        } else {
            error = "unexpected argument \"" + arg + "\"";
            return false;
        }
    }
    if (args.allValues && args.value) {
        error = "/va cannot be combined with /v or /ve";
        return false;
    }
    if (add && (args.hasData || args.type != "REG_SZ") && !args.value) {
        error = "/t and /d need /v or /ve";
        return false;
    }
    return true;
}
