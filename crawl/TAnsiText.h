#pragma once
// Conversions between the byte strings of the crawl (addresses and types as
// they came off the wire or out of a page) and the text the controls show.

#include <QString>

#include <string>

class TAnsiText {
public:
    // Valid UTF-8 is shown as such; anything else is taken as the Korean code
    // page, which is what older Korean sites send.
    static QString ToDisplay(const std::string& bytes);
    // Text typed by the user, as the bytes the crawl works on.
    static std::string FromTyped(const QString& text);
};
