#pragma once
// An answer as the crawl file's journal keeps it (answers.data): every field
// but the id, written with QDataStream at a fixed version and compressed into
// one zstd frame (files written before hold qCompress's form, read back as
// well). One encoder keeps its buffers and its compression context from one
// answer to the next: made afresh for each, they cost more than the
// compression itself.

#include "http/TAnswer.h"

#include <QByteArray>

#include <memory>
#include <optional>

class TAnswerCodec {
public:
    TAnswerCodec();
    ~TAnswerCodec();
    TAnswerCodec(const TAnswerCodec&) = delete;
    TAnswerCodec& operator=(const TAnswerCodec&) = delete;

    QByteArray Encode(const TAnswer& answer);
    // Nullopt when data is not an answer this version wrote (damaged, or of
    // a later layout).
    static std::optional<TAnswer> Decode(const QByteArray& data);

private:
    struct TCompressor;
    std::unique_ptr<TCompressor> FCompressor;
    QByteArray FPlain;
};
