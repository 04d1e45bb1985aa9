#pragma once
// A file that a component needs cannot be opened. Raised on the thread that
// asked for the file and caught there; never carried across threads.

#include <stdexcept>
#include <string>

class EFOpenError : public std::runtime_error {
public:
    explicit EFOpenError(const std::string& message) : std::runtime_error(message) {}
};
