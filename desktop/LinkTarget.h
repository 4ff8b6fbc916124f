#pragma once

#include <QString>

// Hands a link target to the desktop's handler, as the shell's "open" would: a URL with a
// scheme ("https:", "mailto:"...) goes to the handler of its scheme, a path to an existing file
// to the handler of its type. False when the target is neither, or the desktop refused it.
bool OpenLinkTarget(const QString& target);
