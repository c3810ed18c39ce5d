#pragma once

#include <QString>
#include <QtGlobal>

// Size texts such as "1.5 KB": how byte counts are shown in the result lists, and read back for
// sorting. Pure functions, safe on any thread.

// The size text of a byte count; empty for a negative count. The unit is chosen by powers of ten
// (below 1,000 bytes "B", below a million "KB", below a billion "MB", else "GB") while the divisors
// are powers of two, and the number has at most six significant digits: 1536 -> "1.5 KB",
// 1,000,000 -> "0.953674 MB".
QString formatSizeText(qint64 bytes);

// The byte count a size text stands for, for comparing sizes; 0 for a text without a known unit
// (the unit is matched case-sensitively) or whose number does not read.
float sizeTextToBytes(const QString &text);
