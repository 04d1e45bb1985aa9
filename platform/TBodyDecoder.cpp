#include "TBodyDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The two bytes of a zlib header: the deflate method and a check value.
bool HasZlibHeader(std::string_view data) {
    const auto cmf = static_cast<unsigned char>(data[0]);
    const auto flg = static_cast<unsigned char>(data[1]);
    return (cmf & 0x0F) == 8 && (cmf * 256 + flg) % 31 == 0;
}

} // namespace

std::unique_ptr<TBodyDecoder> TBodyDecoder::For(std::string_view contentEncoding) {
    const std::string name = Lower(Trim(contentEncoding));
    if (name == "gzip" || name == "x-gzip")
        return std::unique_ptr<TBodyDecoder>(new TBodyDecoder(name, true));
    if (name == "deflate")
        return std::unique_ptr<TBodyDecoder>(new TBodyDecoder(name, false));
    return nullptr;
}

TBodyDecoder::TBodyDecoder(std::string name, bool gzip)
    : FName(std::move(name)), FGzip(gzip), FStream(std::make_unique<z_stream_s>()) {}

TBodyDecoder::~TBodyDecoder() {
    if (FStarted)
        inflateEnd(FStream.get());
}

TBodyDecoder::TStep TBodyDecoder::Decode(std::string_view input, std::size_t& consumed,
                                         char* output, std::size_t size, std::size_t& produced) {
    consumed = 0;
    produced = 0;
    if (!FStarted) {
        // "deflate" should come with the zlib wrapper, but servers have sent
        // it bare for as long as there have been servers.
        int windowBits = 15 + 16;
        if (!FGzip) {
            if (input.size() < 2)
                return TStep::More;
            windowBits = HasZlibHeader(input) ? 15 : -15;
        }
        if (inflateInit2(FStream.get(), windowBits) != Z_OK) {
            FError = "cannot start decoding";
            return TStep::Corrupt;
        }
        FStarted = true;
    }
    z_stream& z = *FStream;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(input.size(), UINT_MAX));
    z.next_out = reinterpret_cast<Bytef*>(output);
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
    const uInt in = z.avail_in;
    const uInt out = z.avail_out;
    const int rc = inflate(&z, Z_NO_FLUSH);
    consumed = in - z.avail_in;
    produced = out - z.avail_out;
    if (rc == Z_STREAM_END)
        return TStep::End;
    if (rc == Z_OK || rc == Z_BUF_ERROR)
        return TStep::More;
    FError = z.msg != nullptr ? z.msg : "invalid data";
    return TStep::Corrupt;
}
