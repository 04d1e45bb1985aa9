#include "TPageRows.h"

std::uint32_t TPageRows::Word(std::string_view text) {
    if (const auto found = FWordNumbers.find(text); found != FWordNumbers.end())
        return found->second;
    const std::string_view kept = FTexts.Keep(text);
    const auto number = static_cast<std::uint32_t>(FWords.size());
    FWords.push_back(kept);
    FWordNumbers.emplace(kept, number);
    return number;
}

TPageRows::TPacked TPageRows::Pack(const TGoneRow& row, std::string_view url) {
    TPacked packed;
    packed.Id = row.Id;
    packed.Depth = row.Depth;
    packed.Size = row.Size;
    packed.Status = row.Status;
    packed.Url = url.data();
    packed.UrlSize = static_cast<std::uint32_t>(url.size());
    packed.Type = Word(row.Type);
    packed.Reason = Word(row.Reason);
    packed.Verdict = row.Verdict;
    return packed;
}

std::string_view TPageRows::Url(const TPacked& row) {
    return {row.Url, row.UrlSize};
}

void TPageRows::push_back(const TGoneRow& row, std::string_view kept) {
    FRows.push_back(Pack(row, kept == row.Url ? kept : FTexts.Keep(row.Url)));
}

void TPageRows::Adopt(TTextArena&& arena) {
    FAdopted.push_back(std::move(arena));
}

void TPageRows::Set(std::size_t at, const TGoneRow& row) {
    const std::string_view url = Url(FRows[at]);
    FRows[at] = Pack(row, row.Url == url ? url : FTexts.Keep(row.Url));
}

TGoneRow TPageRows::operator[](std::size_t at) const {
    const TPacked& row = FRows[at];
    return {row.Id,
            row.Depth,
            std::string(Url(row)),
            row.Size,
            row.Status,
            std::string(FWords[row.Type]),
            row.Verdict,
            std::string(FWords[row.Reason])};
}
