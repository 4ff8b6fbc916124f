#include "minidriver/pkcs11/P11Template.h"

#include <cstring>

namespace velkp11 {

CK_RV ReadAttributes(const P11Object& object, CK_ATTRIBUTE* templ, CK_ULONG count) {
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& a = templ[i];
        const auto it = object.attributes.find(a.type);
        if (it == object.attributes.end()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        const Bytes& v = it->second;
        if (a.pValue == nullptr) {
            a.ulValueLen = v.size();
        } else if (a.ulValueLen < v.size()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            if (rv == CKR_OK) {
                rv = CKR_BUFFER_TOO_SMALL;
            }
        } else {
            if (!v.empty()) {
                std::memcpy(a.pValue, v.data(), v.size());
            }
            a.ulValueLen = v.size();
        }
    }
    return rv;
}

bool MatchesTemplate(const P11Object& object, const CK_ATTRIBUTE* templ, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& a = templ[i];
        const auto it = object.attributes.find(a.type);
        if (it == object.attributes.end() || it->second.size() != a.ulValueLen) {
            return false;
        }
        if (a.ulValueLen > 0 &&
            (a.pValue == nullptr || std::memcmp(a.pValue, it->second.data(), a.ulValueLen) != 0)) {
            return false;
        }
    }
    return true;
}

} // namespace velkp11
