#pragma once

// Readable QString values in failure messages. Every test file of a binary
// that compares QStrings must see this: gtest's printer is a template, and
// one file without it would give the whole binary the byte-by-byte dump.
#include <QString>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE
