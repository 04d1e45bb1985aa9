#include "TJsonReportWriter.h"

#include "TCrawlCompare.h"
#include "TCrawlReport.h"
#include "common/Utf8.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

bool IsInteger(std::string_view text) noexcept {
    if (text.starts_with('-'))
        text.remove_prefix(1);
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text.front() == '0'))
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

void Put(std::ostream& out, const std::string& text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

} // namespace

void TJsonReportWriter::AppendString(std::string& json, std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    json += '"';
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            json += "\\u00";
            json += Hex[c >> 4];
            json += Hex[c & 15];
        } else if (c >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, at);
            if (length == 0) {
                json += "\xEF\xBF\xBD";
                ++at;
            } else {
                json.append(text.substr(at, length));
                at += length;
            }
            continue;
        } else {
            json += static_cast<char>(c);
        }
        ++at;
    }
    json += '"';
}

std::vector<std::string> TJsonReportWriter::FileNames(const TReport& report) const {
    return {report.FileName("report.json")};
}

// One line a row, so that the file reads well and greps well.
void TJsonReportWriter::Write(std::size_t, const TReport& report, std::ostream& out) const {
    std::string json = "{\n  \"start\": ";
    const auto orNull = [&json](const std::string& text) {
        if (text.empty())
            json += "null";
        else
            AppendString(json, text);
    };
    orNull(report.Start);
    json += ",\n  \"started\": ";
    orNull(report.Started);
    json += ",\n  \"finished\": ";
    orNull(report.Finished);
    json += ",\n  \"options\": {";
    const char* comma = "";
    for (const auto& [name, value] : report.Options) {
        json += comma;
        comma = ", ";
        AppendString(json, name);
        json += ": ";
        if (IsInteger(value))
            json += value;
        else
            AppendString(json, value);
    }
    json += "},\n  \"verdicts\": ";
    // How many distinct addresses got each verdict: counted here, the one
    // format that lists them, as a count looks up every page and object.
    // None for a comparison.
    if (report.Records) {
        const std::array<std::size_t, TVerdicts::Count> verdicts =
            TCrawlReport::CountVerdicts(*report.Records);
        // Worst first.
        json += '{';
        for (int i = TVerdicts::Count - 1; i >= 0; --i) {
            AppendString(json, TVerdicts::Name(static_cast<TVerdict>(i)));
            json += ": " + std::to_string(verdicts[static_cast<std::size_t>(i)]);
            json += i > 0 ? ", " : "}";
        }
    } else {
        json += "null";
    }
    if (report.Changes) {
        // A comparison: how many addresses changed each way, in the order listed.
        const auto counts = TCrawlCompare::Count(*report.Changes);
        json += ",\n  \"changes\": {";
        for (std::size_t i = 0; i < counts.size(); ++i) {
            AppendString(json, TCrawlCompare::Name(static_cast<TChange>(i)));
            json += ": " + std::to_string(counts[i]) + (i + 1 < counts.size() ? ", " : "}");
        }
    }
    Put(out, json);
    for (const TReportTable& table : report.Tables) {
        json = ",\n  ";
        AppendString(json, table.Name);
        json += ": [";
        Put(out, json);
        bool first = true;
        table.ForEachRow([&](const TReportTable::TCells& cells) {
            json = first ? "\n    {" : ",\n    {";
            first = false;
            for (std::size_t i = 0; i < cells.size() && i < table.Fields.size(); ++i) {
                if (i > 0)
                    json += ", ";
                AppendString(json, table.Fields[i].Name);
                json += ": ";
                if (table.Fields[i].Numeric && IsInteger(cells[i])) {
                    json += cells[i];
                } else if (table.Fields[i].List) {
                    json += '[';
                    const char* separator = "";
                    std::string_view words = cells[i];
                    while (!words.empty()) {
                        const std::size_t end = std::min(words.find(' '), words.size());
                        if (end > 0) {
                            json += separator;
                            separator = ", ";
                            AppendString(json, words.substr(0, end));
                        }
                        words.remove_prefix(std::min(end + 1, words.size()));
                    }
                    json += ']';
                } else {
                    AppendString(json, cells[i]);
                }
            }
            if (table.UsesOf && table.AddressField < cells.size()) {
                json += ", \"UsedOn\": [";
                const char* separator = "";
                for (const TReferrer& use : table.UsesOf(cells[table.AddressField])) {
                    json += separator;
                    separator = ", ";
                    json += "{\"Page\": ";
                    AppendString(json, use.Url);
                    json += ", \"Line\": " + std::to_string(use.Line) + "}";
                }
                json += ']';
            }
            json += '}';
            Put(out, json);
        });
        Put(out, std::string(first ? "]" : "\n  ]"));
    }
    Put(out, std::string("\n}\n"));
}
