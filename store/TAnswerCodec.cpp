#include "TAnswerCodec.h"

#include <QBuffer>
#include <QDataStream>

#include <zstd.h>

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

struct TAnswerCodec::TCompressor {
    ZSTD_CCtx* Context = ZSTD_createCCtx();
    ~TCompressor() { ZSTD_freeCCtx(Context); }
};

TAnswerCodec::TAnswerCodec() : FCompressor(std::make_unique<TCompressor>()) {}

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

    // One zstd frame, its length before compression in its header. Level 1:
    // no larger than zlib's fastest, and faster.
    const std::size_t size = std::size_t(FPlain.size());
    if (FCompressor->Context != nullptr) {
        QByteArray packed(qsizetype(ZSTD_compressBound(size)), Qt::Uninitialized);
        const std::size_t written =
            ZSTD_compressCCtx(FCompressor->Context, packed.data(), std::size_t(packed.size()),
                              FPlain.constData(), size, 1);
        if (!ZSTD_isError(written)) {
            packed.truncate(qsizetype(written));
            return packed;
        }
    }
    return qCompress(FPlain, 1); // read back as the files before wrote them
}

namespace {

// The most an answer holds: a page's body and its words.
constexpr quint64 MostPlain = quint64(TRequest::kPageCap) + 1024 * 1024;

// The fields of an answer out of zstd's frame; empty if they are not there
// whole, or would be larger than an answer.
QByteArray Unpack(const QByteArray& packed) {
    const unsigned long long claimed =
        ZSTD_getFrameContentSize(packed.constData(), std::size_t(packed.size()));
    if (claimed == ZSTD_CONTENTSIZE_UNKNOWN || claimed == ZSTD_CONTENTSIZE_ERROR ||
        claimed > MostPlain)
        return {};
    QByteArray plain(qsizetype(claimed), Qt::Uninitialized);
    const std::size_t size = ZSTD_decompress(plain.data(), std::size_t(plain.size()),
                                             packed.constData(), std::size_t(packed.size()));
    if (ZSTD_isError(size) || size != claimed)
        return {};
    return plain;
}

// The same of the form files written before kept (qCompress's: the length
// before compression, 32 bits big-endian, then a zlib stream), the length
// checked before qUncompress takes room for it: no more than an answer holds,
// nor than zlib makes of those bytes (about a thousand to one).
QByteArray Inflate(const QByteArray& compressed) {
    if (compressed.size() < 4)
        return {};
    const auto byte = [&](int at) { return quint64(uchar(compressed[at])); };
    const quint64 claimed = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    if (claimed > MostPlain || claimed > quint64(compressed.size()) * 1100)
        return {};
    return qUncompress(compressed);
}

bool IsFrame(const QByteArray& data) {
    const auto byte = [&](int at) { return quint32(uchar(data[at])); };
    return data.size() >= 4 &&
           (byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24) == ZSTD_MAGICNUMBER;
}

} // namespace

std::optional<TAnswer> TAnswerCodec::Decode(const QByteArray& compressed) {
    const QByteArray data = IsFrame(compressed) ? Unpack(compressed) : Inflate(compressed);
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
