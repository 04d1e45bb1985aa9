#pragma once
// Undoes the Content-Encoding of a response body, a piece at a time. Some
// servers compress a body although the request asked for no compression;
// gzip, deflate (with or without its zlib wrapper), br and zstd are decoded,
// every layer the header lists, since the body is of no use to the crawl
// otherwise.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TBodyDecoder {
public:
    enum class TStep {
        More,    // fine so far; with nothing consumed or produced, more input is needed
        End,     // the compressed data is complete
        Corrupt, // the data cannot be decoded (see ErrorText)
    };

    // One layer of encoding; defined in the source.
    class TLayer;

    // The decoder for a Content-Encoding value: a comma-separated list of
    // "gzip", "x-gzip", "deflate", "br" and "zstd" (any letter case; "identity"
    // is skipped), in the order they were applied, so decoded from the last.
    // Null when the list names nothing to decode or an encoding it cannot
    // decode, which leaves the body as it came.
    static std::unique_ptr<TBodyDecoder> For(std::string_view contentEncoding);
    ~TBodyDecoder();
    TBodyDecoder(const TBodyDecoder&) = delete;
    TBodyDecoder& operator=(const TBodyDecoder&) = delete;

    // Decodes from input into output, setting consumed and produced to the
    // bytes taken and given.
    TStep Decode(std::string_view input, std::size_t& consumed, char* output, std::size_t size,
                 std::size_t& produced);

    // The encodings' names as listed, or the one that failed, for messages.
    const std::string& Name() const noexcept { return FName; }
    std::string ErrorText() const { return FError; }

private:
    TBodyDecoder() = default;
    TStep Pull(std::size_t layer, std::string_view input, std::size_t& consumed, char* output,
               std::size_t size, std::size_t& produced);

    std::string FName;
    // FLayers[0] takes the body as it came; the last one gives the content.
    std::vector<std::unique_ptr<TLayer>> FLayers;
    std::string FError;
};
