// A downloaded page goes to the parser.
#include "TCrawl.h"

#include "TAddressLogin.h"
#include "TAnswerRecord.h"
#include "common/MediaType.h"
#include "parser/THtmlParser.h"
#include "platform/EFOpenError.h"

#include <QString>

namespace {

// Pages up to this size are parsed on the crawl's thread: a few tenths of a
// millisecond, where starting and ending a thread costs as much.
constexpr std::size_t ParseHereBytes = 256 * 1024;

} // namespace

void TCrawl::OnContentFileDownLoadEnd(TMessage&) {
    if (FClosing || FPageRequest == 0 || FPageAnswer.Id != FPageRequest)
        return;
    // Taken over here: whatever runs nested below may start the next page.
    FPageRequest = 0;
    TAnswer answer = std::move(FPageAnswer);
    FPageAnswer = {};
    const std::string address = std::move(FPageAddress);
    const TAnswerRecord::TPage result = TAnswerRecord::Page(answer);
    const _TContent_Struct& header = result.Header;
    _TObjectType& page = RecordDownloadedPage(address, header);
    const TGoneRow row{page.Id,
                       page.Depth,
                       address,
                       page.Size,
                       page.Status,
                       page.ContentType,
                       TAnswerRecord::Verdict(answer),
                       result.Reason};
    if (!IsHtmlContentType(header.ContentType)) {
        AddGoneRow(row); // listed like any page, but there is nothing to parse
        StartPause();
        return;
    }
    try {
        // The skip list is read once a crawl, at its first page.
        if (!FSkipList)
            FSkipList = THtmlParser::ReadSkipList();
        FParser = std::make_unique<THtmlParser>(FHandle, FSkipList);
    } catch (const EFOpenError& error) {
        // No parser, no crawl: it halts here until the next Enter.
        FPageInFlight = false;
        FListener->Error(QString::fromStdString(error.what()));
        return;
    }
    // The row and the records keep the queued address; the links are relative
    // to wherever the redirects led.
    FParsingPage = address;
    std::string base = answer.FinalAddress.empty() ? address : answer.FinalAddress;
    TAddressLogin::Strip(base); // a redirect's login goes no further
    FParser->SetUrl(base);
    if (header.StatusCode == 200)
        NoteSoftNotFoundPage(address, answer.Body);
    FParser->SetDocument(std::move(answer.Body));
    FParser->SetContentType(header.ContentType);
    FParser->SetDepth(page.Depth);
    // A page parsed in a fraction of a millisecond is not worth a thread;
    // either way the parser's end comes as a message.
    if (FParser->Document().size() <= ParseHereBytes)
        FParser->RunHere();
    else
        FParser->Resume();
    AddGoneRow(row);
    Perform(WM_PARSE_START);
    if (FClosing)
        return;
    SetStatus("Parsing이 시작 합니다");
}

_TObjectType& TCrawl::RecordDownloadedPage(const std::string& url, const _TContent_Struct& header) {
    std::unique_ptr<_TObjectType>& slot = FRecords.Entry(url).Page;
    if (!slot)
        slot = std::make_unique<_TObjectType>();
    slot->ContentType = header.ContentType;
    slot->Size = header.ContentLength;
    slot->Status = header.StatusCode;
    slot->Visited = 1;
    return *slot;
}
