#include "TDeviceStreamBuf.h"

TDeviceStreamBuf::TDeviceStreamBuf(QIODevice& device) : FDevice(device), FBuffer(BufferSize) {
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
}

TDeviceStreamBuf::~TDeviceStreamBuf() { Flush(); }

TDeviceStreamBuf::int_type TDeviceStreamBuf::overflow(int_type c) {
    if (!Flush())
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int TDeviceStreamBuf::sync() { return Flush() ? 0 : -1; }

bool TDeviceStreamBuf::Flush() {
    const qint64 size = pptr() - pbase();
    if (FOk && size > 0)
        FOk = FDevice.write(pbase(), size) == size;
    setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
    return FOk;
}
