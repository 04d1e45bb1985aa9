// An answer read back from a crawl file's journal, whatever the file holds:
// the bytes as they are, and compressed both ways a file may keep them (past
// zstd and zlib, into the fields). What reads as an answer is written again
// the same.

#include "store/TAnswerCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include <zstd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    static TAnswerCodec codec;
    std::string frame(ZSTD_compressBound(size), '\0');
    frame.resize(ZSTD_compress(frame.data(), frame.size(), data, size, 1));
    for (const QByteArray& kept :
         {bytes, qCompress(bytes), QByteArray(frame.data(), qsizetype(frame.size()))}) {
        const std::optional<TAnswer> answer = TAnswerCodec::Decode(kept);
        if (!answer)
            continue;
        const std::optional<TAnswer> again = TAnswerCodec::Decode(codec.Encode(*answer));
        if (!again || again->Body != answer->Body || again->Reason != answer->Reason ||
            again->Redirects.size() != answer->Redirects.size() ||
            again->Status != answer->Status || again->Retries != answer->Retries)
            std::abort();
    }
    return 0;
}
