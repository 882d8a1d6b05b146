// Request parser over arbitrary bytes, delivered in receives of varying sizes, answered against
// a document root that does not exist (so nothing on disk is read or written).
#include "contentserver/RequestSocket.h"
#include "contentserver/ServerHost.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 20)
        return 0;
    static CServerHost* pHost = [] {
        CServerHost* p = new CServerHost;
        p->m_strRoot = "\\nonexistent_fuzz_root\\root";
        p->m_strHostName = "fuzzhost";
        return p;
    }();
    // The first byte chooses the receive size, so lines and bodies are split in many ways.
    const size_t nChunk = static_cast<size_t>(data[0] % 64) + 1;
    CRequestSocket* s = new CRequestSocket(pHost);
    for (size_t pos = 1; pos < size; pos += nChunk) {
        const size_t n = std::min(nChunk, size - pos);
        if (s->m_nParseState == REQ_STATE_DONE)
            break;
        if (s->m_buf.GetSize() < static_cast<INT_PTR>(n))
            s->m_buf.SetSize(static_cast<INT_PTR>(n));
        memcpy(s->m_buf.GetData(), data + pos, n);
        s->ParseReceived(static_cast<int>(n));
    }
    CString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    CTime t;
    CRequestSocket::ParseHttpDate(text, t);
    CRequestSocket::UrlDecode(text, data[0] & 1);
    s->Release();
    return 0;
}
