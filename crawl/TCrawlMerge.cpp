// The parser's results go into the crawl state and the report lists.
#include "TCrawl.h"

#include "TAddressLogin.h"
#include "TSiteKey.h"
#include "parser/THtmlParser.h"
#include "platform/TMessagePump.h"

void TCrawl::OnParserEnd(TMessage&) {
    FInternalLinks = 0;
    FExternalLinks = 0;
    if (FClosing || !FParser)
        return;
    FListener->ObjectsCleared();
    FParser->Terminate();
    TMessagePump::KeepResponsive();
    if (FClosing)
        return;
    SetStatus("On Parser End");
    FParsedAnchors = FParser->Anchors();
    FParsedObjects = FParser->Objects();
    // A login written into a link is never shown, stored or followed.
    for (const auto* list : {&FParsedAnchors, &FParsedObjects})
        for (_TObjectType* found : *list)
            TAddressLogin::Strip(found->Url);
    FListener->Count(TCrawlCounter::Anchors, FParsedAnchors.size());
    FListener->Count(TCrawlCounter::Objects, FParsedObjects.size());
    FRecords.BeginMerge(FParsingPage);
    if (!MergeObjects() || !MergeAnchors())
        return; // the crawl is stopping: the parser and the records are gone
    FListener->Count(TCrawlCounter::GoneList, FGoneList.size());
    FListener->Count(TCrawlCounter::GoingList, FGoingList.size());
    FListener->Count(TCrawlCounter::InternalLinks, static_cast<std::size_t>(FInternalLinks));
    FListener->Count(TCrawlCounter::ExternalLinks, static_cast<std::size_t>(FExternalLinks));
    FParser.reset();
    // Their records went with the parser.
    FParsedAnchors.clear();
    FParsedObjects.clear();
    Perform(WM_DATA_MOVE_START);
}

bool TCrawl::MergeObjectsInOrder() {
    for (std::size_t i = 0; i < FParsedObjects.size(); ++i) {
        TMessagePump::KeepResponsive();
        if (FClosing)
            return false;
        const _TObjectType& found = *FParsedObjects[i];
        const std::string key = found.Url;
        const std::int32_t countHere = found.Count;
        if (_TObjectType* known = FRecords.Object(key)) {
            ++known->Count;
        } else {
            ++FLastObjectId;
            auto fresh = std::make_unique<_TObjectType>();
            fresh->Url = key;
            fresh->Kind = found.Kind;
            fresh->Count = countHere;
            fresh->Depth = found.Depth;
            fresh->Id = FLastObjectId;
            TVerdict verdict = TVerdict::Fine;
            std::string reason;
            const _TContent_Struct header = GetObjData(key, verdict, reason);
            if (FClosing)
                return false;
            fresh->ContentType = header.ContentType;
            fresh->Size = header.ContentLength;
            fresh->Status = header.StatusCode;
            TAddressEntry& entry = FRecords.Entry(key);
            entry.Object = std::move(fresh);
            entry.Verdict = verdict;
            entry.Reason = FRecords.Keep(reason);
            FRecords.CountObject();
        }
        const TAddressEntry& entry =
            FRecords.AddReference(key, KIND_OBJECT, countHere, false, FParser->ObjectLines()[i]);
        FListener->ObjectRow(TObjectRow::Of(*entry.Object, entry.Verdict, entry.Reason));
        TMessagePump::KeepResponsive();
        if (FClosing)
            return false;
    }
    return true;
}

// Sorts the page's links into internal and external and queues each new
// internal one. False when the crawl began to stop while the queue was
// pumped.
bool TCrawl::MergeAnchors() {
    for (std::size_t i = 0; i < FParsedAnchors.size(); ++i) {
        _TObjectType* const found = FParsedAnchors[i];
        const bool internal = TSiteKey::Of(found->Url) == FStartSite;
        TAddressEntry& entry = FRecords.AddReference(found->Url, KIND_PAGE, found->Count, internal,
                                                     FParser->AnchorLines()[i]);
        if (!internal) {
            ++FExternalLinks;
            if (FOptions.External && !Excluded(found->Url, false))
                CheckExternal(found->Url, found->Count);
            continue;
        }
        if (entry.Page) {
            ++entry.Page->Count;
        } else {
            ++FLastRecordId;
            const std::string_view queued = FRecords.Stored(found->Url);
            auto record = std::make_unique<_TObjectType>();
            record->Kind = found->Kind;
            record->Count = found->Count;
            record->ContentType = found->ContentType;
            record->Size = found->Size;
            record->Status = found->Status;
            record->Depth = found->Depth;
            record->Id = FLastRecordId;
            entry.Page = std::move(record);
            const _TObjectType& page = *entry.Page;
            if (Excluded(found->Url)) {
                AddGoneRow(
                    {page.Id, page.Depth, found->Url, -1, 0, "", TVerdict::Fine, "excluded"});
            } else if (FOptions.MaxDepth < 0 || page.Depth <= FOptions.MaxDepth) {
                FGoingList.push_back(queued);
            }
            TMessagePump::KeepResponsive();
            if (FClosing)
                return false;
        }
        ++FInternalLinks;
    }
    FRecords.EndMerge(); // the report lists a page's anchors before its objects
    return true;
}
