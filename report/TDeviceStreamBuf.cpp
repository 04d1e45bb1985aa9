#include "TDeviceStreamBuf.h"

#include <cerrno>
#include <unistd.h>

TDeviceStreamBuf::TDeviceStreamBuf(int fd) : FFd(fd), FBuffer(BufferSize) {
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
}

TDeviceStreamBuf::~TDeviceStreamBuf() {
    Flush();
}

TDeviceStreamBuf::int_type TDeviceStreamBuf::overflow(int_type c) {
    if (!Flush())
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int TDeviceStreamBuf::sync() {
    return Flush() ? 0 : -1;
}

bool TDeviceStreamBuf::Flush() {
    const char* from = pbase();
    const char* const end = pptr();
    while (FError == 0 && from < end) {
        const ssize_t written = ::write(FFd, from, static_cast<std::size_t>(end - from));
        if (written > 0)
            from += written;
        else if (written < 0 && errno != EINTR)
            FError = errno;
        else if (written == 0)
            FError = EIO;
    }
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
    return FError == 0;
}
