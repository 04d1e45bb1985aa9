#pragma once
// Undoes the Content-Encoding of a response body, a piece at a time. Some
// servers compress a body although the request asked for no compression;
// gzip and deflate (with or without its zlib wrapper) are decoded, since the
// body is of no use to the crawl otherwise.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct z_stream_s;

class TBodyDecoder {
public:
    enum class TStep {
        More,    // fine so far; with nothing consumed or produced, more input is needed
        End,     // the compressed data is complete
        Corrupt, // the data cannot be decoded (see ErrorText)
    };

    // The decoder for a Content-Encoding value ("gzip", "x-gzip" or
    // "deflate", in any letter case); null for any other value, which leaves
    // the body as it came.
    static std::unique_ptr<TBodyDecoder> For(std::string_view contentEncoding);
    ~TBodyDecoder();
    TBodyDecoder(const TBodyDecoder&) = delete;
    TBodyDecoder& operator=(const TBodyDecoder&) = delete;

    // Decodes from input into output, setting consumed and produced to the
    // bytes taken and given.
    TStep Decode(std::string_view input, std::size_t& consumed, char* output, std::size_t size,
                 std::size_t& produced);

    // The encoding's name, for messages.
    const std::string& Name() const noexcept { return FName; }
    std::string ErrorText() const { return FError; }

private:
    TBodyDecoder(std::string name, bool gzip);

    std::string FName;
    bool FGzip;
    std::unique_ptr<z_stream_s> FStream;
    bool FStarted = false;
    std::string FError;
};
