#include "TBodyDecoder.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

constexpr std::size_t kLayerChunk = 16 * 1024;

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

// One encoding, with the bytes handed up from the layer below it that it has
// not taken yet.
class TBodyDecoder::TLayer {
public:
    using TStep = TBodyDecoder::TStep;

    explicit TLayer(std::string name) : Name(std::move(name)) {}
    virtual ~TLayer() = default;
    virtual TStep Step(std::string_view input, std::size_t& consumed, char* output,
                       std::size_t size, std::size_t& produced) = 0;

    std::string Name;
    std::string Error;
    bool Ended = false;
    std::string Input; // from the layer below, not yet taken
    std::size_t InputPos = 0;
    bool InputOver = false;  // the layer below has ended
    std::vector<char> Chunk; // where the layer below decodes into
};

namespace {

using TStep = TBodyDecoder::TStep;

class TZlibLayer final : public TBodyDecoder::TLayer {
public:
    TZlibLayer(std::string name, bool gzip) : TLayer(std::move(name)), FGzip(gzip) {}
    ~TZlibLayer() override {
        if (FStarted)
            inflateEnd(&FStream);
    }

    TStep Step(std::string_view input, std::size_t& consumed, char* output, std::size_t size,
               std::size_t& produced) override {
        if (!FStarted) {
            // "deflate" should come with the zlib wrapper, but servers have
            // sent it bare for as long as there have been servers.
            int windowBits = 15 + 16;
            if (!FGzip) {
                if (input.size() < 2)
                    return TStep::More;
                windowBits = HasZlibHeader(input) ? 15 : -15;
            }
            if (inflateInit2(&FStream, windowBits) != Z_OK) {
                Error = "cannot start decoding";
                return TStep::Corrupt;
            }
            FStarted = true;
        }
        FStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        FStream.avail_in = static_cast<uInt>(std::min<std::size_t>(input.size(), UINT_MAX));
        FStream.next_out = reinterpret_cast<Bytef*>(output);
        FStream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
        const uInt in = FStream.avail_in;
        const uInt out = FStream.avail_out;
        const int rc = inflate(&FStream, Z_NO_FLUSH);
        consumed = in - FStream.avail_in;
        produced = out - FStream.avail_out;
        if (rc == Z_STREAM_END)
            return TStep::End;
        if (rc == Z_OK || rc == Z_BUF_ERROR)
            return TStep::More;
        Error = FStream.msg != nullptr ? FStream.msg : "invalid data";
        return TStep::Corrupt;
    }

private:
    bool FGzip;
    z_stream FStream{};
    bool FStarted = false;
};

class TBrotliLayer final : public TBodyDecoder::TLayer {
public:
    TBrotliLayer() : TLayer("br"), FState(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~TBrotliLayer() override { BrotliDecoderDestroyInstance(FState); }

    TStep Step(std::string_view input, std::size_t& consumed, char* output, std::size_t size,
               std::size_t& produced) override {
        if (FState == nullptr) {
            Error = "cannot start decoding";
            return TStep::Corrupt;
        }
        std::size_t inLeft = input.size();
        const auto* next = reinterpret_cast<const std::uint8_t*>(input.data());
        std::size_t outLeft = size;
        auto* out = reinterpret_cast<std::uint8_t*>(output);
        const BrotliDecoderResult rc =
            BrotliDecoderDecompressStream(FState, &inLeft, &next, &outLeft, &out, nullptr);
        consumed = input.size() - inLeft;
        produced = size - outLeft;
        if (rc == BROTLI_DECODER_RESULT_SUCCESS)
            return TStep::End;
        if (rc == BROTLI_DECODER_RESULT_ERROR) {
            Error = BrotliDecoderErrorString(BrotliDecoderGetErrorCode(FState));
            return TStep::Corrupt;
        }
        return TStep::More;
    }

private:
    BrotliDecoderState* FState;
};

class TZstdLayer final : public TBodyDecoder::TLayer {
public:
    TZstdLayer() : TLayer("zstd"), FStream(ZSTD_createDStream()) {}
    ~TZstdLayer() override { ZSTD_freeDStream(FStream); }

    TStep Step(std::string_view input, std::size_t& consumed, char* output, std::size_t size,
               std::size_t& produced) override {
        if (FStream == nullptr) {
            Error = "cannot start decoding";
            return TStep::Corrupt;
        }
        ZSTD_inBuffer in{input.data(), input.size(), 0};
        ZSTD_outBuffer out{output, size, 0};
        const std::size_t rc = ZSTD_decompressStream(FStream, &out, &in);
        consumed = in.pos;
        produced = out.pos;
        if (ZSTD_isError(rc)) {
            Error = ZSTD_getErrorName(rc);
            return TStep::Corrupt;
        }
        // A frame is complete and all its output given: the body's end.
        if (rc == 0 && in.pos == in.size)
            return TStep::End;
        return TStep::More;
    }

private:
    ZSTD_DStream* FStream;
};

std::unique_ptr<TBodyDecoder::TLayer> LayerFor(const std::string& name) {
    if (name == "gzip" || name == "x-gzip")
        return std::make_unique<TZlibLayer>(name, true);
    if (name == "deflate")
        return std::make_unique<TZlibLayer>(name, false);
    if (name == "br")
        return std::make_unique<TBrotliLayer>();
    if (name == "zstd")
        return std::make_unique<TZstdLayer>();
    return nullptr;
}

} // namespace

std::unique_ptr<TBodyDecoder> TBodyDecoder::For(std::string_view contentEncoding) {
    std::unique_ptr<TBodyDecoder> decoder(new TBodyDecoder());
    std::vector<std::unique_ptr<TLayer>> applied;
    while (!contentEncoding.empty()) {
        const std::size_t comma = std::min(contentEncoding.find(','), contentEncoding.size());
        const std::string name = Lower(Trim(contentEncoding.substr(0, comma)));
        contentEncoding.remove_prefix(std::min(comma + 1, contentEncoding.size()));
        if (name.empty() || name == "identity")
            continue;
        std::unique_ptr<TLayer> layer = LayerFor(name);
        if (!layer)
            return nullptr;
        decoder->FName += (decoder->FName.empty() ? "" : ", ") + name;
        applied.push_back(std::move(layer));
    }
    if (applied.empty())
        return nullptr;
    // The last encoding applied is the first undone.
    for (auto it = applied.rbegin(); it != applied.rend(); ++it) {
        if (!decoder->FLayers.empty())
            (*it)->Chunk.resize(kLayerChunk);
        decoder->FLayers.push_back(std::move(*it));
    }
    return decoder;
}

TBodyDecoder::~TBodyDecoder() = default;

TBodyDecoder::TStep TBodyDecoder::Decode(std::string_view input, std::size_t& consumed,
                                         char* output, std::size_t size, std::size_t& produced) {
    consumed = 0;
    produced = 0;
    const TStep step = Pull(FLayers.size() - 1, input, consumed, output, size, produced);
    if (step == TStep::Corrupt)
        for (const auto& layer : FLayers)
            if (!layer->Error.empty()) {
                FName = layer->Name;
                FError = layer->Error;
            }
    return step;
}

// Decodes with layer k into output: layer 0 from the body's bytes, any other
// from what the layer below gives, pulled as it runs short.
TBodyDecoder::TStep TBodyDecoder::Pull(std::size_t k, std::string_view input, std::size_t& consumed,
                                       char* output, std::size_t size, std::size_t& produced) {
    TLayer& layer = *FLayers[k];
    consumed = 0;
    produced = 0;
    if (layer.Ended)
        return TStep::End;
    if (k == 0) {
        const TStep step = layer.Step(input, consumed, output, size, produced);
        layer.Ended = step == TStep::End;
        return step;
    }
    for (;;) {
        std::size_t taken = 0;
        std::size_t given = 0;
        const std::string_view waiting = std::string_view(layer.Input).substr(layer.InputPos);
        const TStep step = layer.Step(waiting, taken, output, size, given);
        layer.InputPos += taken;
        if (layer.InputPos == layer.Input.size()) {
            layer.Input.clear();
            layer.InputPos = 0;
        }
        if (step != TStep::More || given > 0) {
            produced = given;
            layer.Ended = step == TStep::End;
            return step;
        }
        if (taken > 0)
            continue;
        if (layer.InputOver)
            return TStep::More; // its data ended before it did
        std::size_t used = 0;
        std::size_t got = 0;
        const TStep below =
            Pull(k - 1, input.substr(consumed), used, layer.Chunk.data(), layer.Chunk.size(), got);
        consumed += used;
        if (below == TStep::Corrupt)
            return below;
        layer.Input.append(layer.Chunk.data(), got);
        layer.InputOver = below == TStep::End;
        if (used == 0 && got == 0 && !layer.InputOver)
            return TStep::More; // the body's next bytes are needed
    }
}
