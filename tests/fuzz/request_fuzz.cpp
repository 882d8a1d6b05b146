// Request parser over arbitrary bytes, delivered in receives of varying sizes, answered against
// a document root that does not exist (so nothing on disk is read or written).
#include "contentserver/RequestSocket.h"
#include "contentserver/ServerHost.h"

#include <cstring>

namespace {

// One connection serves every input: its 1 MiB receive buffer is made once, not per input, which
// multiplies the inputs tried per second. Between inputs it is put back into the state of a
// fresh connection.
CRequestSocket* Connection() {
    static CServerHost* pHost = [] {
        CServerHost* p = new CServerHost;
        p->m_strRoot = "\\nonexistent_fuzz_root\\root";
        p->m_strHostName = "fuzzhost";
        return p;
    }();
    static CRequestSocket* pSocket = new CRequestSocket(pHost);
    if (pSocket->m_pRequest != nullptr) {
        pSocket->m_pRequest->Release();
        pSocket->m_pRequest = nullptr;
    }
    pSocket->m_buf.SetSize(0); // each input sizes it to its receives
    pSocket->m_nBytesToSend = 0;
    pSocket->m_nSendOffset = 0;
    pSocket->m_strLine.Empty();
    pSocket->m_nParseState = REQ_STATE_LINE;
    pSocket->m_nHeaderBytes = 0;
    pSocket->m_bBadRequest = FALSE;
    return pSocket;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 20)
        return 0;
    // The first byte chooses the receive size, so lines and bodies are split in many ways.
    const size_t nChunk = static_cast<size_t>(data[0] % 64) + 1;
    CRequestSocket* s = Connection();
    for (size_t pos = 1; pos < size; pos += nChunk) {
        const size_t n = std::min(nChunk, size - pos);
        if (s->m_nParseState == REQ_STATE_DONE)
            break;
        if (s->m_buf.GetSize() < static_cast<INT_PTR>(n))
            s->m_buf.SetSize(static_cast<INT_PTR>(n));
        memcpy(s->m_buf.GetData(), data + pos, n);
        s->ParseReceived(static_cast<int>(n));
    }
    // Whatever was answered is a whole head: a status line and an empty line at least.
    if (s->m_nParseState == REQ_STATE_DONE) {
        const std::string answer(reinterpret_cast<const char*>(s->m_buf.GetData()) + s->m_nSendOffset,
                                 static_cast<size_t>(s->m_nBytesToSend));
        if (answer.compare(0, 9, "HTTP/1.0 ") != 0 || answer.find("\r\n\r\n") == std::string::npos)
            abort();
    }
    CString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    CTime t;
    CRequestSocket::ParseHttpDate(text, t);
    CRequestSocket::UrlDecode(text, data[0] & 1);
    return 0;
}
