#pragma once

// Attribute templates as applications hand them in: read into by
// C_GetAttributeValue, compared with by C_FindObjectsInit. Both only read
// and write inside the lengths the template states.

#include "minidriver/pkcs11/Cryptoki.h"
#include "minidriver/pkcs11/P11Object.h"

namespace velkp11 {

// Fills the template from the object. Every entry is handled: unknown types
// and too small buffers get CK_UNAVAILABLE_INFORMATION and make the result
// CKR_ATTRIBUTE_TYPE_INVALID or CKR_BUFFER_TOO_SMALL.
CK_RV ReadAttributes(const P11Object& object, CK_ATTRIBUTE* templ, CK_ULONG count);

// True when the object has every attribute of the template with the same value.
bool MatchesTemplate(const P11Object& object, const CK_ATTRIBUTE* templ, CK_ULONG count);

} // namespace velkp11
