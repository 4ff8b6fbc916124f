#pragma once

#include "dialogs/certs/CertButtons.h"
#include "dialogs/certs/CertValidity.h"

#include <QIcon>
#include <QString>

// The 16 x 16 row images of the certificate list, drawn in code: a certificate sheet whose
// seal tells an authority (blue), a user certificate (grey) and a qualified one (green)
// apart. An expired certificate, or one that expires soon, carries a red or amber mark.
QIcon CertRowIcon(CertRowImage image, CertValidityState validity);

// What the image shows, for assistive technology.
QString CertRowImageName(CertRowImage image, int language);
