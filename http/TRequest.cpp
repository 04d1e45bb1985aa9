#include "TRequest.h"

#include <utility>

TRequest TRequest::Page(std::uint64_t id, std::string address) {
    TRequest request;
    request.Id = id;
    request.Address = std::move(address);
    return request;
}

TRequest TRequest::Probe(std::uint64_t id, std::string address) {
    TRequest request = Page(id, std::move(address));
    request.Method = TMethod::Head;
    request.Purpose = TPurpose::Probe;
    request.Body = TBody::Skip;
    request.TotalTimeout = std::chrono::minutes(2);
    return request;
}

TRequest TRequest::Robots(std::uint64_t id, std::string address) {
    TRequest request = Page(id, std::move(address));
    request.Purpose = TPurpose::Probe;
    request.BodyCap = kRobotsCap;
    request.TotalTimeout = std::chrono::minutes(2);
    return request;
}
