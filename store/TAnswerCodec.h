#pragma once
// An answer as the crawl file's journal keeps it (answers.data): every field
// but the id, written with QDataStream at a fixed version and compressed.

#include "http/TAnswer.h"

#include <QByteArray>

#include <optional>

class TAnswerCodec {
public:
    static QByteArray Encode(const TAnswer& answer);
    // Nullopt when data is not an answer this version wrote (damaged, or of
    // a later layout).
    static std::optional<TAnswer> Decode(const QByteArray& data);
};
