#include "SettingValue.h"

#include <limits>

namespace SettingValue {

namespace {
bool parseDecimal(const QString& text, int* value)
{
    const QString trimmed = text.trimmed();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        const bool sign = i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+'));
        if (!sign && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            return false;
    }
    bool ok = false;
    *value = trimmed.toInt(&ok, 10);
    return ok;
}
} // namespace

int flag(const QString& text)
{
    int value = 0;
    return parseDecimal(text, &value) ? value : 0;
}

bool isTrue(const QString& text)
{
    return text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

int lastPortIndex(const QString& text)
{
    int value = -1;
    if (!parseDecimal(text, &value) || value < -1 || value >= std::numeric_limits<qint16>::max())
        return -1;
    return value;
}

} // namespace SettingValue
