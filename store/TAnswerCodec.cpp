#include "TAnswerCodec.h"

#include <QBuffer>
#include <QDataStream>

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

} // namespace

struct TAnswerCodec::TDeflate {
    z_stream Stream{};
    bool Ready = deflateInit(&Stream, Z_BEST_SPEED) == Z_OK;
    ~TDeflate() {
        if (Ready)
            deflateEnd(&Stream);
    }
};

TAnswerCodec::TAnswerCodec() : FDeflate(std::make_unique<TDeflate>()) {}

TAnswerCodec::~TAnswerCodec() = default;

QByteArray TAnswerCodec::Encode(const TAnswer& a) {
    if (FPlain.capacity() > 1024 * 1024)
        FPlain = QByteArray(); // a big body's room is not kept for ever
    FPlain.resize(0);          // else the room stays
    QBuffer buffer(&FPlain);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
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
    buffer.close();

    // qCompress's form: the length before compression (32 bits, big-endian),
    // then the zlib stream.
    z_stream& z = FDeflate->Stream;
    if (!FDeflate->Ready || deflateReset(&z) != Z_OK)
        return qCompress(FPlain, 1);
    const uLong size = uLong(FPlain.size());
    QByteArray packed(qsizetype(deflateBound(&z, size) + 4), Qt::Uninitialized);
    uchar* head = reinterpret_cast<uchar*>(packed.data());
    head[0] = uchar(size >> 24), head[1] = uchar(size >> 16), head[2] = uchar(size >> 8),
    head[3] = uchar(size);
    z.next_in = reinterpret_cast<Bytef*>(FPlain.data());
    z.avail_in = uInt(size);
    z.next_out = head + 4;
    z.avail_out = uInt(packed.size() - 4);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        return qCompress(FPlain, 1);
    packed.truncate(qsizetype(4 + z.total_out));
    return packed;
}

std::optional<TAnswer> TAnswerCodec::Decode(const QByteArray& compressed) {
    // The length it claims, checked before qUncompress takes room for it: no
    // more than an answer holds (a page's body and its words), nor than zlib
    // can make of those bytes (about a thousand to one).
    if (compressed.size() < 4)
        return std::nullopt;
    const auto byte = [&](int at) { return quint64(uchar(compressed[at])); };
    const quint64 claimed = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    if (claimed > quint64(TRequest::kPageCap) + 1024 * 1024 ||
        claimed > quint64(compressed.size()) * 1100)
        return std::nullopt;
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
