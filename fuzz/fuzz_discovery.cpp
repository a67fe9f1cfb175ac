// Parses arbitrary datagrams as device answers to a discovery request, decoded as UTF-8 as the
// receiving socket does. An accepted answer names a device with single-line texts and a usable
// port and unit id. The first byte picks the sender address and, with its top bit set, builds a
// well-formed answer from the input instead, which must come back field for field.
#include "devicefinder.h"

#include "fuzzsupport.h"

#include <cstdint>

namespace {
bool singleLine(const QString &text)
{
    return !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')) &&
           !text.contains(QChar(0)) && text == text.trimmed();
}

// Name and MAC from the input (split at the first byte 1, made single-line), port and unit id
// from two bytes each, joined by changing line breaks.
void checkWellFormedAnswer(const QString &sender, const uint8_t *data, size_t size)
{
    if (size < 4)
        return;
    const quint16 port = quint16(1 + (data[0] << 8 | data[1]) % 65535);
    const quint16 unitId = quint16(1 + (data[2] << 8 | data[3]) % 247);
    QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 4, int(size - 4));
    text.remove(QChar(0))
        .replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    const int split = text.indexOf(QChar(1));
    const QString name = text.left(split < 0 ? text.size() : split).trimmed();
    const QString mac = split < 0 ? QStringLiteral("00:11:22:33:44:55") : text.mid(split + 1).trimmed();
    if (name.isEmpty() || mac.isEmpty())
        return;
    const QString breaks[] = {QStringLiteral("\r\n"), QStringLiteral("\n"), QStringLiteral("\r\n\r\n"),
                              QStringLiteral("\r")};
    const QString answer = name + breaks[port % 4] + mac + breaks[unitId % 4] + QString::number(port) +
                           breaks[(port + unitId) % 4] + QString::number(unitId) + breaks[unitId % 2];
    const std::optional<FoundDevice> device = DeviceFinder::parseAnswer(sender, answer);
    if (!device || device->name != name || device->mac != mac || device->port != port ||
        device->modbusid != unitId)
        fuzzFailure("a well-formed answer did not come back field for field");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString senders[] = {QStringLiteral("192.168.1.20"), QStringLiteral("::ffff:10.0.0.7"),
                               QStringLiteral("fe80::1%eth0"), QString()};
    if (size < 1)
        return 0;
    const QString sender = senders[data[0] % 4];
    if (data[0] & 0x80) {
        checkWellFormedAnswer(sender, data + 1, size - 1);
        return 0;
    }
    const auto device = DeviceFinder::parseAnswer(
        sender, QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, int(size - 1)));
    if (device && device->ip != sender)
        fuzzFailure("the device is not listed under its sender");
    if (device && (device->port <= 0 || device->modbusid <= 0))
        fuzzFailure("port or unit id not positive");
    if (device && (!singleLine(device->name) || !singleLine(device->mac)))
        fuzzFailure("name or MAC spans lines or keeps blanks or NULs");
    return 0;
}
