#include "TAnswerCodec.h"

#include <QDataStream>
#include <QIODevice>

#include <zlib.h>

namespace {

// The layout of the fields, first in the data: a new field is a new layout.
constexpr quint8 Layout = 1;
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_6_4;

void Put(QDataStream& out, const std::string& text) {
    out << QByteArray(text.data(), qsizetype(text.size()));
}

bool Take(QDataStream& in, std::string& text) {
    QByteArray bytes;
    in >> bytes;
    text.assign(bytes.constData(), std::size_t(bytes.size()));
    return in.status() == QDataStream::Ok;
}

// qCompress's format (the length, 4 bytes big-endian, then a zlib stream),
// which qUncompress reads, from one deflate stream a thread kept for every
// answer: qCompress sets up zlib's 256 KiB of state afresh each call, which
// cost more than the compression of a crawl's small answers.
class TDeflater {
public:
    TDeflater() { FReady = deflateInit(&FStream, Z_DEFAULT_COMPRESSION) == Z_OK; }
    ~TDeflater() {
        if (FReady)
            deflateEnd(&FStream);
    }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;

    QByteArray Compress(const QByteArray& data) {
        if (!FReady || deflateReset(&FStream) != Z_OK)
            return qCompress(data);
        const auto size = static_cast<uLong>(data.size());
        QByteArray out(qsizetype(4 + deflateBound(&FStream, size)), Qt::Uninitialized);
        auto* bytes = reinterpret_cast<unsigned char*>(out.data());
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<unsigned char>(size >> (24 - 8 * i));
        FStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        FStream.avail_in = static_cast<uInt>(size);
        FStream.next_out = bytes + 4;
        FStream.avail_out = static_cast<uInt>(out.size() - 4);
        if (deflate(&FStream, Z_FINISH) != Z_STREAM_END)
            return qCompress(data);
        out.truncate(qsizetype(4 + FStream.total_out));
        return out;
    }

private:
    z_stream FStream{};
    bool FReady = false;
};

} // namespace

QByteArray TAnswerCodec::Encode(const TAnswer& a) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out << Layout << qint32(a.Status);
    Put(out, a.StatusText);
    Put(out, a.StatusPhrase);
    Put(out, a.FinalAddress);
    out << quint32(a.Redirects.size());
    for (const TRedirectHop& hop : a.Redirects) {
        out << qint32(hop.Status);
        Put(out, hop.Location);
    }
    out << qint32(a.Method);
    Put(out, a.ContentType);
    out << qint64(a.DeclaredLength) << qint64(a.BodyBytes) << a.BodyRead;
    Put(out, a.Body);
    out << qint32(a.Failure);
    Put(out, a.Reason);
    out << qint32(a.Retries);
    thread_local TDeflater deflater;
    return deflater.Compress(data);
}

std::optional<TAnswer> TAnswerCodec::Decode(const QByteArray& compressed) {
    const QByteArray data = qUncompress(compressed);
    QDataStream in(data);
    in.setVersion(StreamVersion);
    TAnswer a;
    quint8 layout = 0;
    qint32 status = 0, method = 0, failure = 0, retries = 0;
    quint32 hops = 0;
    in >> layout >> status;
    if (layout != Layout || !Take(in, a.StatusText) || !Take(in, a.StatusPhrase) ||
        !Take(in, a.FinalAddress))
        return std::nullopt;
    in >> hops;
    for (quint32 i = 0; i < hops && in.status() == QDataStream::Ok; ++i) {
        qint32 hopStatus = 0;
        TRedirectHop hop;
        in >> hopStatus;
        hop.Status = hopStatus;
        if (Take(in, hop.Location))
            a.Redirects.push_back(std::move(hop));
    }
    in >> method;
    if (!Take(in, a.ContentType))
        return std::nullopt;
    qint64 declared = 0, bytes = 0;
    in >> declared >> bytes >> a.BodyRead;
    if (!Take(in, a.Body))
        return std::nullopt;
    in >> failure;
    if (!Take(in, a.Reason))
        return std::nullopt;
    in >> retries;
    if (in.status() != QDataStream::Ok || !in.atEnd() || method < 0 ||
        method > qint32(TRequest::TMethod::Get) || failure < 0 || failure > qint32(TFailure::Other))
        return std::nullopt;
    a.Status = status;
    a.Method = TRequest::TMethod(method);
    a.DeclaredLength = declared;
    a.BodyBytes = bytes;
    a.Failure = TFailure(failure);
    a.Retries = retries;
    return a;
}
