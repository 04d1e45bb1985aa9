// The body decoder on arbitrary bytes, under every list of encodings, fed in
// pieces of every size.

#include "platform/TBodyDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr std::string_view Lists[] = {
        "gzip", "deflate", "br", "zstd", "gzip, gzip", "deflate, br", "br, zstd, gzip",
        "zstd, identity, deflate"};
    if (size < 2)
        return 0;
    auto decoder = TBodyDecoder::For(Lists[data[0] % std::size(Lists)]);
    if (!decoder)
        std::abort();
    const std::size_t piece = 1 + data[1] % 64;
    std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);
    char output[97];
    std::size_t total = 0;
    // Fed piece by piece, as the bytes come from a connection; the output is
    // capped as the crawl caps it.
    for (int rounds = 0; rounds < 100000 && total < (1u << 20); ++rounds) {
        const std::string_view input = body.substr(0, piece);
        std::size_t consumed = 0, produced = 0;
        const TBodyDecoder::TStep step =
            decoder->Decode(input, consumed, output, sizeof output, produced);
        if (consumed > input.size() || produced > sizeof output)
            std::abort();
        body.remove_prefix(consumed);
        total += produced;
        if (step != TBodyDecoder::TStep::More)
            break;
        if (consumed == 0 && produced == 0 && body.empty())
            break; // wants more than the body holds
    }
    return 0;
}
