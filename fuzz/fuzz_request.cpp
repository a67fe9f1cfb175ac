// Feeds arbitrary bytes to the request parser in pieces of changing size, the way a socket hands
// them over: request line, headers, URL-encoded and multipart bodies, cookies. The first input
// byte chooses the piece sizes; the rest is what the client sent.
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

bool finished(const HttpRequest &request)
{
    return request.status() == HttpRequest::Complete || request.status() == HttpRequest::Aborted;
}

// Hands the parser what has arrived so far, as the connection handler does: again and again
// while bytes are available and the request is not finished.
void feed(HttpRequest &request, QByteArray &pending)
{
    QBuffer buffer(&pending);
    buffer.open(QIODevice::ReadOnly);
    while (buffer.bytesAvailable() > 0 && !finished(request)) {
        const qint64 before = buffer.pos();
        const HttpRequest::RequestStatus statusBefore = request.status();
        request.readFromSocket(&buffer);
        // The handler would call again at once: a call that takes nothing and changes nothing
        // spins that thread forever.
        if (buffer.pos() == before && request.status() == statusBefore)
            fuzzFailure("no progress while bytes are available");
    }
    pending.remove(0, int(buffer.pos()));
}

void inspect(const HttpRequest &request)
{
    if (request.path().size() > request.rawPath().size())
        fuzzFailure("decoded path is longer than the raw one");
    if (!request.header("Cookie").isEmpty())
        fuzzFailure("Cookie headers remain after the cookies were extracted");
    if (request.body().size() > maxRequestSize)
        fuzzFailure("body larger than the request limit");
    const auto parameters = request.parameters();
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        QTemporaryFile *file = request.uploadedFile(it.key());
        if (file && file->pos() != 0)
            fuzzFailure("uploaded file is not positioned at its start");
        if (file && file->size() > maxMultiPartSize)
            fuzzFailure("uploaded file larger than the multipart limit");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static QSettings settings(dir.filePath(QStringLiteral("config.ini")), QSettings::IniFormat);
    if (settings.group().isEmpty()) {
        settings.beginGroup(QStringLiteral("listener"));
        settings.setValue(QStringLiteral("maxRequestSize"), maxRequestSize);
        settings.setValue(QStringLiteral("maxMultiPartSize"), maxMultiPartSize);
    }
    if (size < 1)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    if (HttpRequest::urlDecode(input).size() > input.size())
        fuzzFailure("URL decoding made the text longer");

    HttpRequest request(&settings);
    // Piece sizes from 1 byte to a few kilobytes, mostly small, repeatable for one seed (xorshift).
    uint32_t state = 0x9E3779B9u ^ (uint32_t(data[0]) * 2654435761u);
    QByteArray pending;
    for (int offset = 0; offset < input.size() && !finished(request);) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const int piece = 1 + int((state >> 8) % (1u << (state % 13)));
        pending.append(input.mid(offset, piece));
        offset += piece;
        feed(request, pending);
    }
    if (request.status() == HttpRequest::Complete)
        inspect(request);
    return 0;
}
