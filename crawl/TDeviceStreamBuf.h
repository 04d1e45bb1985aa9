#pragma once
// A std::streambuf that passes what is written to a QIODevice in pieces of
// BufferSize bytes, so that a report as big as the crawl goes to its file as
// it is written instead of being built whole in memory first.

#include <QIODevice>

#include <cstddef>
#include <streambuf>
#include <vector>

class TDeviceStreamBuf : public std::streambuf {
public:
    static constexpr std::size_t BufferSize = 64 * 1024;

    explicit TDeviceStreamBuf(QIODevice& device);
    // Writes what is left; a failure then shows in Ok().
    ~TDeviceStreamBuf() override;

    // False once a write to the device fell short; nothing is written after.
    bool Ok() const noexcept { return FOk; }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool Flush();

    QIODevice& FDevice;
    std::vector<char> FBuffer;
    bool FOk = true;
};
