#include "reference_checks/SizeText.h"

#include <array>

namespace {

struct SizeUnit
{
    const char *suffix;
    qint64 divisor;
};

constexpr qint64 kibi = 1024;

} // namespace

QString formatSizeText(qint64 bytes)
{
    if (bytes < 0)
        return {};
    SizeUnit unit{" GB", kibi * kibi * kibi};
    if (bytes < 1000)
        unit = {" B", 1};
    else if (bytes < 1000 * 1000)
        unit = {" KB", kibi};
    else if (bytes < 1000 * 1000 * 1000)
        unit = {" MB", kibi * kibi};
    // The quotient is held in single precision, so the six digits shown are those of a float.
    const float value = static_cast<float>(static_cast<double>(bytes) / unit.divisor);
    return QStringLiteral("%1").arg(value, 0, 'g', -1, QLatin1Char(' ')) +
           QLatin1String(unit.suffix);
}

float sizeTextToBytes(const QString &text)
{
    static constexpr std::array<SizeUnit, 4> units{{
            {" GB", kibi * kibi * kibi},
            {" MB", kibi * kibi},
            {" KB", kibi},
            {" B", 1},
    }};
    for (const SizeUnit &unit : units) {
        const QLatin1String suffix(unit.suffix);
        if (text.endsWith(suffix, Qt::CaseSensitive)) {
            const float number = text.left(text.size() - suffix.size()).toFloat();
            return number * static_cast<float>(unit.divisor);
        }
    }
    return 0;
}
