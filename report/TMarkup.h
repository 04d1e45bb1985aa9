#pragma once
// Text in HTML and XML: escaped for element text and quoted attributes alike,
// so that nothing a page or a server sends can open a tag, close a quote or
// break the document.

#include <string>
#include <string_view>

class TMarkup {
public:
    // Appends text with & < > " ' escaped. Bytes that are no UTF-8 become
    // U+FFFD; characters XML 1.0 forbids (control characters other than tab,
    // LF and CR; U+FFFE, U+FFFF) are dropped.
    static void Append(std::string& out, std::string_view text);
    static std::string Escaped(std::string_view text);
    // True for an http: or https: address, the only ones a report links to.
    static bool IsWebAddress(std::string_view address) noexcept;
};
