#include "app/TScanCommand.h"

#include "common/CsvWriter.h"
#include "parser/THtmlParser.h"
#include "platform/EFOpenError.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

namespace {

bool ReadAll(std::istream& in, std::string& text) {
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = std::move(buffer).str();
    return !in.bad();
}

void WriteList(CsvWriter& csv, const char* kind, const std::vector<_TObjectType*>& records) {
    for (const _TObjectType* record : records)
        csv.WriteRow(
            {kind, record->Url, std::to_string(record->Count), std::to_string(record->Depth)});
}

} // namespace

int TScanCommand::Run(const std::string& file, const std::string& baseUrl, std::int32_t depth,
                      std::istream& stdinStream, std::ostream& out, std::ostream& err) {
    std::string document;
    if (file == "-") {
        if (!ReadAll(stdinStream, document)) {
            err << "marrowby: cannot read standard input\n";
            return 1;
        }
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            err << "marrowby: cannot open \"" << file << "\": " << std::strerror(errno) << '\n';
            return 1;
        }
        if (!ReadAll(in, document)) {
            err << "marrowby: cannot read \"" << file << "\"\n";
            return 1;
        }
    }

    std::unique_ptr<THtmlParser> parser;
    try {
        parser = std::make_unique<THtmlParser>(nullptr);
    } catch (const EFOpenError& error) {
        err << "marrowby: " << error.what() << '\n';
        return 1;
    }
    parser->SetUrl(baseUrl);
    parser->SetDocument(std::move(document));
    parser->SetDepth(depth);
    // The same thread the crawl runs; without a window its end message is
    // simply dropped.
    parser->Resume();
    parser->WaitFor();

    WriteRecords(*parser, out);
    out.flush();
    if (!out) {
        err << "marrowby: cannot write the results\n";
        return 1;
    }
    return 0;
}

void TScanCommand::WriteRecords(const THtmlParser& parser, std::ostream& out) {
    CsvWriter csv(out);
    csv.WriteRow({"Kind", "URI", "Count", "Depth"});
    WriteList(csv, "anchor", parser.Anchors());
    WriteList(csv, "object", parser.Objects());
}
