// An answer read back from a crawl file's journal, whatever the file holds:
// the bytes as they are, and compressed (past zlib, into the fields). What
// reads as an answer is written again the same.

#include "store/TAnswerCodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    static TAnswerCodec codec;
    for (const QByteArray& kept : {bytes, qCompress(bytes)}) {
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
