#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// Wiping the copies a secret leaves in strings. A QString shares its buffer with the copies it
// was made from (the text of an edit among them), so wiping one wipes what they all show.
void WipeText(QString& text);
void WipeText(QByteArray& bytes);
void WipeText(std::string& text);
