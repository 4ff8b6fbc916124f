#pragma once

#include <string>

// Fills the certificate list from the current user's "MY" store when there is
// no list yet: every certificate whose key-provider information names a
// container of the maker's minidriver, in store order, with the reader worked
// out from the container name. When CryptoAPI or the store cannot be opened
// the list is made empty and `error` holds the text for the user, to be shown
// with kBuildListCaption as an error; otherwise `error` is empty. Nothing
// happens when the list exists already.
void BuildCertificateListCore(std::string& error);

inline constexpr const char* kBuildListCaption = "FEHLER";
