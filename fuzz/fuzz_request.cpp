// Feeds arbitrary bytes to the request parser in pieces of changing size, the way a socket
// hands them over: request line, headers, URL-encoded and multipart bodies, cookies.
// The first input byte chooses the piece sizes; the rest is what the client sent.
#include "httprequest.h"

#include "fuzzsupport.h"

#include <QBuffer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstdint>

namespace {
// Small limits, so that inputs of a few kilobytes reach every size check.
constexpr qint64 maxRequestSize = 4000;
constexpr qint64 maxMultiPartSize = 20000;

QSettings *listenerSettings()
{
    static QTemporaryDir dir;
    static QSettings *settings = [] {
        auto *s = new QSettings(dir.filePath(QStringLiteral("config.ini")), QSettings::IniFormat);
        s->beginGroup(QStringLiteral("listener"));
        s->setValue(QStringLiteral("maxRequestSize"), maxRequestSize);
        s->setValue(QStringLiteral("maxMultiPartSize"), maxMultiPartSize);
        return s;
    }();
    return settings;
}

void fail(const char *what)
{
    fuzzFailure("request parser", what);
}

bool finished(const HttpRequest &request)
{
    return request.status() == HttpRequest::Complete || request.status() == HttpRequest::Aborted;
}

// Piece sizes from 1 byte to a few kilobytes, mostly small, repeatable for one seed.
class PieceSizes
{
public:
    explicit PieceSizes(uint8_t seed)
        : m_state(0x9E3779B9u ^ (uint32_t(seed) * 2654435761u))
    {}
    int next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        const int scale = int(m_state % 13);
        return 1 + int((m_state >> 8) % (1u << scale));
    }

private:
    uint32_t m_state;
};

// Hands the parser what has arrived so far, as the connection handler does: again and
// again while bytes are available and the request is not finished.
void feed(HttpRequest &request, QByteArray &pending)
{
    QBuffer buffer(&pending);
    buffer.open(QIODevice::ReadOnly);
    while (buffer.bytesAvailable() > 0 && !finished(request)) {
        const qint64 before = buffer.pos();
        const HttpRequest::RequestStatus statusBefore = request.status();
        request.readFromSocket(&buffer);
        // The handler would call again at once: a call that takes nothing and changes
        // nothing spins that thread forever.
        if (buffer.pos() == before && request.status() == statusBefore)
            fail("no progress while bytes are available");
    }
    pending.remove(0, int(buffer.pos()));
}

void inspect(const HttpRequest &request)
{
    request.method();
    request.version();
    const QByteArray path = request.path();
    if (path.size() > request.rawPath().size())
        fail("decoded path is longer than the raw one");
    const auto headers = request.headers();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        request.headerValues(it.key());
    if (!request.header("Cookie").isEmpty())
        fail("Cookie headers remain after the cookies were extracted");
    const auto cookies = request.cookies();
    for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
        request.cookie(it.key());
    if (request.body().size() > maxRequestSize)
        fail("body larger than the request limit");
    const auto parameters = request.parameters();
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        request.parameterValues(it.key());
        QTemporaryFile *file = request.uploadedFile(it.key());
        if (!file)
            continue;
        if (file->pos() != 0)
            fail("uploaded file is not positioned at its start");
        if (file->readAll().size() > maxMultiPartSize)
            fail("uploaded file larger than the multipart limit");
        file->seek(0);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    const QByteArray decoded = HttpRequest::urlDecode(input);
    if (decoded.size() > input.size())
        fail("URL decoding made the text longer");

    HttpRequest request(listenerSettings());
    PieceSizes sizes(data[0]);
    QByteArray pending;
    int offset = 0;
    while (offset < input.size() && !finished(request)) {
        const int piece = sizes.next();
        pending.append(input.mid(offset, piece));
        offset += piece;
        feed(request, pending);
    }
    if (request.status() == HttpRequest::Complete)
        inspect(request);
    return 0;
}
