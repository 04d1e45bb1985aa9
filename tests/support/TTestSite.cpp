#include "TTestSite.h"

TCannedResponse TTestSite::Page(const std::string& status, const std::string& type,
                                const std::string& body) {
    TCannedResponse r;
    r.Raw = "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
            "\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
    return r;
}

void TTestSite::AddPage(const std::string& target, const std::string& status,
                        const std::string& type, const std::string& body) {
    BodySize[target] = static_cast<int>(body.size());
    Server.Add(target, Page(status, type, body));
}

TTestSite::TTestSite() {
    Server.Start();
    Other.Start();
    Other.Add("/x", Page("200 OK", "text/html", "<p>elsewhere</p>"));
    Outside = Other.Url("/x");
    // The answer breaks off after a few of its declared bytes: a failed page.
    Gone = Url("/gone.html");
    TCannedResponse cut = Page("200 OK", "text/html", std::string(100, 'x'));
    cut.CloseAfter = cut.Raw.size() - 90;
    Server.Add("/gone.html", cut);
    const std::string html = "text/html";
    AddPage("/", "200 OK", html,
                         "<html><body background=\"bg.gif\">\n"
                         "<a href=\"a.html\">A</a> <a href=b.html>B</a> <a href=\"/\">home</a>\n"
                         "<a href=\"" + Outside + "\">out</a>\n"
                         "<img src=\"img.gif\"><IMG SRC=img.gif><img src=\"nope.gif\">\n"
                         "</body></html>\n");
    AddPage("/a.html", "200 OK", "text/html; charset=UTF-8",
                               "<p><a href=\"b.html\">B</a> <a href=\"doc.txt\">doc</a>\n"
                               "<a href=\"missing.html\">missing</a> <a href=\"" + Gone +
                                   "\">gone</a>\n<img src=\"/img.gif\">");
    AddPage("/b.html", "200 OK", html, "<a href=\"a.html\">A</a><img src=\"img.gif\">");
    AddPage("/doc.txt", "200 OK", "text/plain", "plain text, not parsed\n");
    AddPage("/missing.html", "404 Not Found", html, "<h1>Not here</h1>");
    AddPage("/img.gif", "200 OK", "image/gif", "GIF89a");
    TCannedResponse background = Page("200 OK", "image/gif", "");
    background.Raw = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nConnection: close\r\n\r\n";
    background.FillerBytes = 5000; // no declared length: the probe counts the bytes
    Server.Add("/bg.gif", background);
    AddPage("/nope.gif", "404 Not Found", html, "<h1>no image</h1>");
}
