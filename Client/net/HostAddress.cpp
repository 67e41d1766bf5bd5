#include "Client/net/HostAddress.h"

namespace gemvolt::net {

namespace {

bool readPort(const QString& text, quint16& port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    port = static_cast<quint16>(value);
    return true;
}

} // namespace

HostAddress HostAddress::parse(const QString& answer) {
    HostAddress result;
    const QString text = answer.trimmed();
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return result;
        result.Host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() &&
            (!rest.startsWith(QLatin1Char(':')) || !readPort(rest.mid(1), result.Port)))
            return result;
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        result.Host = text.left(colon);
        if (!readPort(text.mid(colon + 1), result.Port))
            return result;
    } else {
        result.Host = text;
    }
    result.Valid = !result.Host.isEmpty();
    return result;
}

} // namespace gemvolt::net
