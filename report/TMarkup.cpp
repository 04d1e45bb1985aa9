#include "TMarkup.h"

#include "common/Utf8.h"

#include <algorithm>
#include <cctype>

void TMarkup::Append(std::string& out, std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, at);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++at;
                continue;
            }
            const std::string_view sequence = text.substr(at, length);
            if (sequence != "\xEF\xBF\xBE" && sequence != "\xEF\xBF\xBF") // U+FFFE, U+FFFF
                out.append(sequence);
            at += length;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += static_cast<char>(c);
        }
        ++at;
    }
}

std::string TMarkup::Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    Append(out, text);
    return out;
}

bool TMarkup::IsWebAddress(std::string_view address) noexcept {
    const auto startsWith = [address](std::string_view scheme) {
        return address.size() > scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), address.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == b;
               });
    };
    return startsWith("http://") || startsWith("https://");
}
