#include "foundation/SplitByChar.h"

int SplitByChar(CString strText, CStringList& lstPieces, char chSeparator) {
    lstPieces.RemoveAll();
    if (strText.IsEmpty())
        return 0;
    int nCount = 0;
    CString strPiece;
    auto endPiece = [&] {
        strPiece.Trim();
        if (!strPiece.IsEmpty()) {
            lstPieces.AddTail(strPiece);
            ++nCount;
        }
        strPiece.Empty();
    };
    const int nLength = strText.GetLength();
    for (int i = 0; i < nLength; ++i) {
        const char ch = strText.GetAt(i);
        // A double-byte character goes in whole, so its trail byte is never taken for the separator.
        if (AfxIsLeadByte(static_cast<unsigned char>(ch)) && i + 1 < nLength) {
            strPiece += ch;
            strPiece += strText.GetAt(++i);
            continue;
        }
        if (ch != chSeparator) {
            strPiece += ch;
            continue;
        }
        endPiece();
    }
    // The last piece ends at the end of the text as if a separator followed it.
    endPiece();
    return nCount;
}
