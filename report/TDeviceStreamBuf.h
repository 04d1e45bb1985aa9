#pragma once
// A std::streambuf that passes what is written to an open file descriptor in
// pieces of BufferSize bytes, so that a report as big as the crawl goes to its
// file as it is written instead of being built whole in memory first. Its
// buffer is the only memory it takes, taken when it is made.

#include <cstddef>
#include <streambuf>
#include <vector>

class TDeviceStreamBuf : public std::streambuf {
public:
    static constexpr std::size_t BufferSize = 64 * 1024;

    explicit TDeviceStreamBuf(int fd);
    // Writes what is left; a failure then shows in Error().
    ~TDeviceStreamBuf() override;

    // False once a write to the file failed; nothing is written after.
    bool Ok() const noexcept { return FError == 0; }
    // The errno of the write that failed, or 0.
    int Error() const noexcept { return FError; }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool Flush();

    int FFd;
    std::vector<char> FBuffer;
    int FError = 0;
};
