#include "tcpserver.h"

#include "modbussession.h"

#include <modbus.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int backlog = 32;

int boundPort(int socket)
{
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port);
}
} // namespace

TcpServer::TcpServer(RequestProcessor *processor, FaultControl *faults, bool logRequests)
    : m_processor(processor)
    , m_faults(faults)
    , m_logRequests(logRequests)
{}

TcpServer::~TcpServer()
{
    // The process ends with the simulator; the threads go with it.
    if (m_thread.joinable())
        m_thread.detach();
}

int TcpServer::start(const QString &address, int port, QString *message)
{
    m_address = address;
    modbus_t *listener = modbus_new_tcp(address.toLatin1().constData(), port);
    if (!listener) {
        *message = QStringLiteral("Bad TCP address %1").arg(address);
        return -1;
    }
    m_listenSocket = modbus_tcp_listen(listener, backlog);
    modbus_free(listener);
    if (m_listenSocket == -1) {
        *message = QStringLiteral("Cannot listen on %1:%2: %3").arg(address).arg(port).arg(strerror(errno));
        return -1;
    }
    m_thread = std::thread([this] { acceptLoop(); });
    return boundPort(m_listenSocket);
}

void TcpServer::acceptLoop()
{
    for (;;) {
        const int client = ::accept(m_listenSocket, nullptr, nullptr);
        if (client == -1) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        std::thread([this, client] {
            modbus_t *ctx = modbus_new_tcp(m_address.toLatin1().constData(), 0);
            modbus_set_socket(ctx, client);
            ModbusSession(ctx, false, m_processor, m_faults, m_logRequests).run();
            modbus_close(ctx);
            modbus_free(ctx);
        }).detach();
    }
}
