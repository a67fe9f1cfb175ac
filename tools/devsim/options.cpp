#include "options.h"

#include <QCommandLineParser>

namespace {
constexpr int defaultDeviceId = 42;
constexpr int runIndicatorOn = 0xFF;
const char defaultIdText[] = "Vexo simulated device";

// "\xNN", "\n", "\t", "\\" in a command-line text become the bytes they name.
QByteArray unescaped(const QString &text)
{
    const QByteArray in = text.toUtf8();
    QByteArray out;
    for (int i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out.append(in[i]);
            continue;
        }
        const char next = in[++i];
        if (next == 'n')
            out.append('\n');
        else if (next == 't')
            out.append('\t');
        else if (next == 'x' && i + 2 < in.size()) {
            out.append(static_cast<char>(in.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else
            out.append(next);
    }
    return out;
}

bool parseTcp(const QString &value, DevsimOptions *options)
{
    const int colon = value.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    options->tcpAddress = value.left(colon);
    options->tcpPort = value.mid(colon + 1).toInt(&ok);
    return colon > 0 && ok && options->tcpPort >= 0 && options->tcpPort <= 65535;
}

// Any of the discovery options switches the answers on.
void readDiscovery(const QCommandLineParser &parser, DevsimOptions *options)
{
    const DiscoveryIdentity defaults;
    options->discovery = parser.isSet("discovery") || parser.isSet("discovery-name") ||
                         parser.isSet("discovery-mac") || parser.isSet("discovery-port") ||
                         parser.isSet("discovery-unit-id");
    options->identity.name = parser.isSet("discovery-name") ? parser.value("discovery-name") : defaults.name;
    options->identity.mac = parser.isSet("discovery-mac") ? parser.value("discovery-mac") : defaults.mac;
    options->identity.modbusPort = parser.value("discovery-port").toInt();
    options->identity.unitId =
        parser.isSet("discovery-unit-id") ? parser.value("discovery-unit-id").toInt() : defaults.unitId;
}

QByteArray buildReport(const QCommandLineParser &parser)
{
    if (parser.isSet("report-hex"))
        return QByteArray::fromHex(parser.value("report-hex").toLatin1());
    QByteArray report;
    report.append(static_cast<char>(parser.value("device-id").toInt()));
    report.append(static_cast<char>(parser.value("run-indicator").toInt()));
    report.append(unescaped(parser.value("id-text")));
    return report;
}
} // namespace

bool DevsimOptions::parse(const QStringList &arguments, DevsimOptions *options, QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulated Modbus device for Vexo's tests, benchmarks and quick start.\n"
        "Functions: 01 read coils, 02 read discrete inputs, 03 read holding registers, 04 read\n"
        "input registers, 05 write one coil, 06 write one register, 15 write coils, 16 write\n"
        "registers, 17 report slave id. Addresses off a table answer with exception 02 (illegal\n"
        "data address), bad quantities with 03 (illegal data value).\n"
        "Coils and discrete inputs: addresses 0-9999. Coils 0-15 = 1010 0101 0011 1100 (coil 0\n"
        "first; bytes A5 3C on the wire), discrete inputs 0-15 = 1100 1010 1111 0000 (53 0F).\n"
        "Input registers (read only): addresses 0-9999, preloaded with every value type (byte\n"
        "orders as A B C D ... = the value's bytes, most significant first):\n"
        "  0=int16 -1, 1=uint16 40000, 2=int16 -12345, 3=int16 -12345 BADC,\n"
        "  4-5=int32 -123456789, 6-7=uint32 4000000000, 8-9/10-11/12-13/14-15=float32 123.456\n"
        "  in ABCD/CDAB/BADC/DCBA, 16-19=int64 -1234567890123456789, 20-23=uint64\n"
        "  12345678901234567890, 24-27/28-31/32-35/36-39=float64 3.141592653589793 in\n"
        "  ABCD/CDAB/BADC/DCBA, 40-45=ascii \"Vexo devsim\" (first character in the high byte,\n"
        "  a NUL after it), 46-51=the same text BADC (first character in the low byte).\n"
        "Holding registers are 16-bit everywhere except 5000-7999, which are 32-bit registers\n"
        "(4 bytes each, most significant byte first; quantities count 32-bit registers; 06\n"
        "cannot write them).\n"
        "Preloaded: 0=1234, 1=0xFFFF, 2-3=12.5 high word first, 4-5=12.5 low word first,\n"
        "6-7=65536 high word first, 8=42, 9=7, 10-11=-100000 low word first, 12-13=float NaN\n"
        "high word first, 100-109=100-109; 5000=123456789, 5001=12.5, 5002=0xFFFFFFFF,\n"
        "5003=12.5 with its 16-bit halves exchanged.\n"
        "Live (change with time, for charts; writes to them do not stick): 1000=sine -1000..1000\n"
        "(period 20 s), 1001=ramp 0..299 (one step per 100 ms), 1002=500 with noise +-25,\n"
        "1003-1004=float high word first around 21.5 (+-2, period 60 s).");
    parser.addHelpOption();
    parser.addOptions({
        {"tcp", "Serve Modbus TCP on ADDR:PORT (IPv4; port 0 picks a free port, printed at start).",
         "addr:port"},
        {"rtu", "Serve Modbus RTU on the serial DEVICE (for example one end of a socat pty pair).", "device"},
        {"baud", "RTU baud rate (default 115200).", "rate", "115200"},
        {"parity", "RTU parity: N, E or O (default N).", "parity", "N"},
        {"stop-bits", "RTU stop bits: 1 or 2 (default 1).", "bits", "1"},
        {"slave", "RTU slave address the device answers to (default 1; TCP answers every unit id).", "id",
         "1"},
        {"device-id", "Device type id of the report slave id answer (default 42).", "id",
         QString::number(defaultDeviceId)},
        {"run-indicator", "Run indicator byte of the report slave id answer (default 255).", "byte",
         QString::number(runIndicatorOn)},
        {"id-text",
         QStringLiteral("Text of the report slave id answer (default \"%1\"); \\xNN, \\n, \\t and \\\\ "
                        "name bytes.")
             .arg(defaultIdText),
         "text", defaultIdText},
        {"report-hex", "The whole report slave id data as hex bytes (overrides the three above).", "hex"},
        {"fault",
         "Misbehave: " + Faults::modeNames() +
             " (default none). short answers one item fewer than asked (a read one register or data "
             "byte less, a multiple write echoes one fewer, a single write a value one smaller); "
             "malformed answers with another function code; bad-crc matters on RTU only.",
         "mode", "none"},
        {"delay", "Answer this many milliseconds late (default 0).", "ms", "0"},
        {"log-requests", "Print one line per request on standard output: function code, address, count "
                         "and the whole frame in hex (tests count and check them)."},
        {"discovery", "Answer device searches (UDP port 30303, every address) with the four lines below."},
        {"discovery-name", "Device name in search answers (default \"Vexo device simulator\").", "text"},
        {"discovery-mac", "MAC text in search answers (default 02:00:00:00:00:01).", "text"},
        {"discovery-port", "Modbus TCP port in search answers (default: the --tcp port, else 502).", "port",
         "0"},
        {"discovery-unit-id", "Modbus unit id in search answers (default 1).", "id"},
        {"control",
         "Before every answer read faults from FILE, lines fault=MODE and delay=MS; "
         "a missing file means the faults given at start.",
         "file"},
    });
    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return false;
    }
    if (parser.isSet("help")) {
        *message = parser.helpText();
        return false;
    }
    if (!parser.isSet("tcp") && !parser.isSet("rtu")) {
        *message = "Give --tcp ADDR:PORT, --rtu DEVICE or both (they share the registers).";
        return false;
    }
    if (parser.isSet("tcp") && !parseTcp(parser.value("tcp"), options)) {
        *message = "--tcp wants ADDR:PORT, for example 127.0.0.1:5020.";
        return false;
    }
    options->rtuDevice = parser.value("rtu");
    options->baud = parser.value("baud").toInt();
    const QString parity = parser.value("parity").toUpper();
    options->parity = parity.isEmpty() ? 'N' : parity.at(0).toLatin1();
    options->stopBits = parser.value("stop-bits").toInt();
    options->slave = parser.value("slave").toInt();
    options->report = buildReport(parser);
    options->faults.delayMs = qMax(0, parser.value("delay").toInt());
    options->controlFile = parser.value("control");
    options->logRequests = parser.isSet("log-requests");
    readDiscovery(parser, options);
    if (!Faults::parseMode(parser.value("fault"), &options->faults.mode)) {
        *message = "--fault wants one of: " + Faults::modeNames();
        return false;
    }
    if (options->baud <= 0 || QByteArrayLiteral("NEO").indexOf(options->parity) < 0 ||
        (options->stopBits != 1 && options->stopBits != 2) || options->report.size() > 251) {
        *message = "Bad serial settings or report (rate > 0, parity N/E/O, 1 or 2 stop bits, report "
                   "up to 251 bytes).";
        return false;
    }
    return true;
}
