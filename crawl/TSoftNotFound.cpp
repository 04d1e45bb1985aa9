#include "TSoftNotFound.h"

#include "common/MediaType.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace {

// How far into a body the title is looked for, and how much of it is read.
constexpr std::size_t TitleScan = 64 * 1024;
constexpr std::size_t TitleMax = 1024;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// "404" on its own, not as part of a longer number ("Item 14049").
bool SaysStatus(std::string_view title) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t at = title.find("404"); at != std::string_view::npos;
         at = title.find("404", at + 1))
        if ((at == 0 || !digit(title[at - 1])) && (at + 3 == title.size() || !digit(title[at + 3])))
            return true;
    return false;
}

} // namespace

std::string TSoftNotFound::ProbeAddress(std::string_view page, std::string_view name) {
    std::string_view address = page.substr(0, page.find_first_of("?#"));
    const std::size_t scheme = address.find("://");
    const std::size_t path = address.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    std::string folder(path == std::string_view::npos ? address
                                                      : address.substr(0, address.rfind('/') + 1));
    if (path == std::string_view::npos)
        folder += '/';
    return folder + "marrowby-" + std::string(name) + ".html";
}

std::string TSoftNotFound::TitleOf(std::string_view body) {
    const std::string head = Lower(body.substr(0, TitleScan));
    std::size_t open = 0;
    for (;;) {
        open = head.find("<title", open);
        if (open == std::string::npos)
            return {};
        const char next = open + 6 < head.size() ? head[open + 6] : '\0';
        if (next == '>' || IsSpace(next) || next == '/')
            break;
        open += 6;
    }
    const std::size_t start = head.find('>', open);
    if (start == std::string::npos)
        return {};
    std::size_t end = head.find("</title", start);
    if (end == std::string::npos)
        end = head.size();
    const std::string_view text = body.substr(start + 1, std::min(end - start - 1, TitleMax));
    std::string title;
    bool space = false;
    for (const char c : text) {
        if (IsSpace(c)) {
            space = !title.empty();
            continue;
        }
        if (space)
            title += ' ';
        space = false;
        title += c;
    }
    return title;
}

TSoftNotFound::TPage TSoftNotFound::Describe(std::string_view body) {
    TPage page;
    const std::string title = TitleOf(body);
    page.Size = static_cast<std::uint32_t>(std::min<std::size_t>(body.size(), (1u << 30) - 1));
    if (!title.empty()) {
        page.Title = std::hash<std::string>{}(title) | 1; // never 0
        const std::string lower = Lower(title);
        page.SaysNotFound = lower.find("not found") != std::string::npos || SaysStatus(lower);
    }
    return page;
}

void TSoftNotFound::NotePage(std::size_t row, std::string_view body, bool start) {
    FNoted = true;
    TPage page = Describe(body);
    // A page of no title that does not say "not found" is never one.
    if (page.Title == 0 && !page.SaysNotFound && !start)
        return;
    page.Row = static_cast<std::uint32_t>(row);
    page.Start = start;
    FPages.push_back(page);
}

void TSoftNotFound::Answered(const TAnswer& answer) {
    // A missing address sent elsewhere lands on a real page: that is a
    // redirect to fix, not a page that pretends to exist.
    FSoft = answer.Failure == TFailure::None && answer.Status == 200 && answer.Redirects.empty() &&
            IsHtmlContentType(answer.ContentType);
    if (FSoft)
        FMissing = Describe(answer.Body);
}

bool TSoftNotFound::Alike(const TPage& page) const {
    if (page.Title == 0 || page.Title != FMissing.Title)
        return false;
    const std::size_t low = std::min<std::size_t>(page.Size, FMissing.Size);
    const std::size_t high = std::max<std::size_t>(page.Size, FMissing.Size);
    return (high - low) * 10 <= high;
}

std::vector<std::size_t> TSoftNotFound::Missing() const {
    std::vector<std::size_t> rows;
    if (!FSoft)
        return rows;
    // One page for every address: likeness tells nothing.
    const bool likeness = std::none_of(FPages.begin(), FPages.end(), [this](const TPage& page) {
        return page.Start && Alike(page);
    });
    for (const TPage& page : FPages)
        if (!page.Start && (page.SaysNotFound || (likeness && Alike(page))))
            rows.push_back(page.Row);
    return rows;
}
