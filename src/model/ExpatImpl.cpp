#include "model/ExpatImpl.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

class IconvHandle {
public:
    explicit IconvHandle(const char* from) : m_cd(iconv_open("UTF-32LE", from)) {}
    ~IconvHandle() {
        if (IsOpen())
            iconv_close(m_cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

constexpr int kInvalidByte = -1;
constexpr int kNotSingleByte = -2;

// The code point of one byte on its own, kInvalidByte when the encoding has none
// for it, or kNotSingleByte when the byte only starts a sequence or switches state.
int DecodeByte(iconv_t cd, unsigned char byte) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(byte);
    char* inPtr = &in;
    size_t inLeft = 1;
    unsigned char out[16];
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return errno == EILSEQ ? kInvalidByte : kNotSingleByte;
    const size_t produced = sizeof out - outLeft;
    if (produced == 0)
        return kNotSingleByte;
    if (produced != 4)
        return kInvalidByte;
    const int codePoint = out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24;
    // expat takes single-byte maps only within the Basic Multilingual Plane.
    return codePoint <= 0xFFFF ? codePoint : kInvalidByte;
}

} // namespace

int XMLCALL SingleByteEncodingHandler(void*, const XML_Char* name, XML_Encoding* info) {
    IconvHandle cd(name);
    if (!cd.IsOpen())
        return XML_STATUS_ERROR;
    for (int byte = 0; byte < 256; ++byte) {
        const int codePoint = DecodeByte(cd.Get(), static_cast<unsigned char>(byte));
        if (codePoint == kNotSingleByte)
            return XML_STATUS_ERROR;
        info->map[byte] = codePoint;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}
