#include "TCrawlJournal.h"

#include "http/TRequest.h"

std::string TCrawlJournal::Key(const TRequest& request) {
    std::string key = request.Method == TRequest::TMethod::Head ? "HEAD" : "GET";
    key += request.Body == TRequest::TBody::Keep ? (request.KeepHtmlOnly ? " keep-html " : " keep ")
           : request.Body == TRequest::TBody::Count ? " count "
                                                    : " skip ";
    key += std::to_string(request.BodyCap);
    key += ' ';
    key += request.Address;
    return key;
}
