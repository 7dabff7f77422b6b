#include "JsonRead.h"

#include <QVariant>
#include <cmath>
#include <limits>
#include <optional>

namespace clipvane::JsonRead {

namespace {

// 2^63: the first magnitude a signed 64-bit value cannot hold (exact as a double).
constexpr double kInt64Bound = 9223372036854775808.0;

// The JSON parser keeps whole numbers that fit 64 bits as integers, so they read exactly.
std::optional<qint64> integralNumber(const QJsonValue &value)
{
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    return std::nullopt;
}

// An optional sign and ASCII digits only: no spaces, no fraction, no exponent.
std::optional<qint64> decimalText(const QString &text)
{
    qsizetype position = 0;
    bool negative = false;
    if (position < text.size() && (text[position] == u'+' || text[position] == u'-')) {
        negative = text[position] == u'-';
        ++position;
    }
    if (position == text.size())
        return std::nullopt;
    // Accumulate the magnitude unsigned so that the most negative value still fits.
    const quint64 limit =
        negative ? quint64(std::numeric_limits<qint64>::max()) + 1 : quint64(std::numeric_limits<qint64>::max());
    quint64 magnitude = 0;
    for (; position < text.size(); ++position) {
        const char16_t c = text[position].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = c - u'0';
        if (magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == 0 ? 0 : -qint64(magnitude - 1) - 1;
    return qint64(magnitude);
}

// Truncated toward zero; a value that no signed 64-bit integer can hold reads as 0.
qint64 truncatedFloat(double number)
{
    if (!std::isfinite(number))
        return 0;
    const double whole = std::trunc(number);
    if (whole < -kInt64Bound || whole >= kInt64Bound)
        return 0;
    return qint64(whole);
}

int narrowed(qint64 number)
{
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return 0;
    return int(number);
}

} // namespace

qint64 toInt64(const QJsonValue &value)
{
    if (value.isDouble()) {
        if (const auto integral = integralNumber(value))
            return *integral;
        return truncatedFloat(value.toDouble());
    }
    if (value.isString())
        return decimalText(value.toString()).value_or(0);
    return 0;
}

int toInt(const QJsonValue &value)
{
    if (value.isDouble()) {
        if (const auto integral = integralNumber(value))
            return narrowed(*integral);
        return narrowed(truncatedFloat(value.toDouble()));
    }
    if (value.isString()) {
        const auto parsed = decimalText(value.toString());
        return parsed ? narrowed(*parsed) : 0;
    }
    return 0;
}

bool flag(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool();
    return toInt(value) == 1;
}

QString text(const QJsonValue &value, const QString &fallback)
{
    return value.isString() ? value.toString() : fallback;
}

} // namespace clipvane::JsonRead
