// vexo-devsim: a simulated Modbus device (TCP or RTU) for tests, benchmarks and the quick start.
#include "devicetables.h"
#include "discoveryresponder.h"
#include "faultcontrol.h"
#include "options.h"
#include "requestprocessor.h"
#include "rtuserver.h"
#include "tcpserver.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vexo-devsim");

    DevsimOptions options;
    QString message;
    if (!DevsimOptions::parse(QCoreApplication::arguments(), &options, &message)) {
        const bool help =
            QCoreApplication::arguments().contains("--help") || QCoreApplication::arguments().contains("-h");
        std::fprintf(help ? stdout : stderr, "%s\n", qPrintable(message));
        return help ? 0 : 2;
    }

    DeviceTables tables;
    RequestProcessor processor(&tables, options.report);
    FaultControl faults(options.faults, options.controlFile);
    TcpServer tcpServer(&processor, &faults, options.logRequests);
    RtuServer rtuServer(&processor, &faults, options.logRequests);

    DiscoveryIdentity identity = options.identity;
    if (!options.tcpAddress.isEmpty()) {
        const int port = tcpServer.start(options.tcpAddress, options.tcpPort, &message);
        if (port < 0) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
            return 1;
        }
        std::printf("listening on tcp %s:%d\n", qPrintable(options.tcpAddress), port);
        if (identity.modbusPort <= 0)
            identity.modbusPort = port;
    }
    if (identity.modbusPort <= 0)
        identity.modbusPort = DiscoveryIdentity().modbusPort;
    DiscoveryResponder discovery(identity);
    if (options.discovery) {
        if (!discovery.start()) {
            std::fprintf(stderr, "cannot answer device searches: %s\n", qPrintable(discovery.errorString()));
            return 1;
        }
        std::printf("answering device searches on udp %d\n", DiscoveryResponder::defaultPort);
    }
    if (!options.rtuDevice.isEmpty()) {
        if (!rtuServer.start(options, &message)) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
            return 1;
        }
        std::printf("listening on rtu %s\n", qPrintable(options.rtuDevice));
    }
    std::fflush(stdout);
    return app.exec();
}
