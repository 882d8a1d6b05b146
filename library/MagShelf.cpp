#include "library/MagShelf.h"

#include "library/CompleteChars.h"

#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "xml/XmlDocument.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

CMagShelf g_MagShelf;

namespace {

const int MAX_RECENT_READS = 10;

// Records are never destroyed once a list has held them: another list or a running download may
// still point to one that was removed. They stay reachable from here until the process ends.
// The keeper's lock is a leaf: it is taken under a store lock and nothing is called under it.
void KeepRecord(CMagInfo* pItem) {
    static std::mutex s_lock;
    static auto* s_pKept = new std::unordered_set<CMagInfo*>();
    std::lock_guard<std::mutex> guard(s_lock);
    s_pKept->insert(pItem);
}

enum FieldForm { FORM_PLAIN, FORM_CDATA, FORM_INT64, FORM_INT };

struct BooklistField {
    const char* pszTag;
    FieldForm nForm;
    CString CMagInfo::*pStr;
    LONGLONG CMagInfo::*pInt64;
    int CMagInfo::*pInt;
};

// The booklist's field order; the reader depends on it, and downlen stands before filelen.
const BooklistField s_fields[] = {
    {"id", FORM_PLAIN, &CMagInfo::id, nullptr, nullptr},
    {"pid", FORM_PLAIN, &CMagInfo::pid, nullptr, nullptr},
    {"sort_id", FORM_PLAIN, &CMagInfo::sort_id, nullptr, nullptr},
    {"class_id", FORM_PLAIN, &CMagInfo::class_id, nullptr, nullptr},
    {"brand_id", FORM_PLAIN, &CMagInfo::brand_id, nullptr, nullptr},
    {"feature", FORM_PLAIN, &CMagInfo::feature, nullptr, nullptr},
    {"name", FORM_CDATA, &CMagInfo::name, nullptr, nullptr},
    {"date", FORM_PLAIN, &CMagInfo::date, nullptr, nullptr},
    {"isFullSwf", FORM_PLAIN, &CMagInfo::isFullSwf, nullptr, nullptr},
    {"price", FORM_PLAIN, &CMagInfo::price, nullptr, nullptr},
    {"exe_size", FORM_PLAIN, &CMagInfo::exe_size, nullptr, nullptr},
    {"load_url", FORM_CDATA, &CMagInfo::load_url, nullptr, nullptr},
    {"pic1", FORM_PLAIN, &CMagInfo::pic1, nullptr, nullptr},
    {"s_pic", FORM_PLAIN, &CMagInfo::s_pic, nullptr, nullptr},
    {"description", FORM_CDATA, &CMagInfo::description, nullptr, nullptr},
    {"rec_content", FORM_CDATA, &CMagInfo::rec_content, nullptr, nullptr},
    {"add_time", FORM_PLAIN, &CMagInfo::add_time, nullptr, nullptr},
    {"downlen", FORM_INT64, nullptr, &CMagInfo::downlen, nullptr},
    {"filelen", FORM_INT64, nullptr, &CMagInfo::filelen, nullptr},
    {"down", FORM_INT, nullptr, nullptr, &CMagInfo::down},
    {"type", FORM_PLAIN, &CMagInfo::type, nullptr, nullptr},
    {"savepath", FORM_CDATA, &CMagInfo::savepath, nullptr, nullptr},
};

// "<", "&" and ">" are never trail bytes of a double-byte character (those run from 0x40), so a
// byte-wise pass is exact. A value without them is written as it is.
void AppendEscaped(std::string& out, const std::string& value) {
    const size_t n = CompleteCharsLength(value);
    for (size_t i = 0; i < n; ++i) {
        char ch = value[i];
        switch (ch) {
        case '<':
            out += "&lt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += ch;
        }
    }
}

// A "]]>" inside the value would end the section early and lose the fields after it: close the
// section between "]]" and ">" and open a new one. The reader joins the sections again. This is
// done byte-wise, since "]" (0x5D) can be a trail byte: a reader that scans bytes then still
// finds the right end, and so does one that steps over double-byte characters.
void AppendCData(std::string& out, const std::string& value) {
    out += "<![CDATA[";
    const size_t n = CompleteCharsLength(value);
    size_t from = 0;
    for (;;) {
        size_t at = value.find("]]>", from);
        if (at == std::string::npos || at + 3 > n)
            break;
        out.append(value, from, at - from);
        out += "]]]]><![CDATA[>";
        from = at + 3;
    }
    out.append(value, from, n - from);
    out += "]]>";
}

// Leading blanks, an optional sign and the digits up to the first other character; 0 without digits.
LONGLONG ParseDecimal(const CString& strText) {
    const char* p = strText.GetString();
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f')
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-')
        bNegative = (*p++ == '-');
    // Accumulate as a negative number so that the most negative value fits; clamp beyond.
    LONGLONG n = 0;
    const LONGLONG kMin = INT64_MIN;
    for (; *p >= '0' && *p <= '9'; ++p) {
        int d = *p - '0';
        if (n < (kMin + d) / 10) {
            n = kMin;
            continue;
        }
        n = n * 10 - d;
    }
    if (bNegative)
        return n;
    return n == kMin ? INT64_MAX : -n;
}

int ClampToInt(LONGLONG n) {
    if (n > INT32_MAX)
        return INT32_MAX;
    if (n < INT32_MIN)
        return INT32_MIN;
    return static_cast<int>(n);
}

bool IsShelfKind(const CString& strKind) {
    return strKind == "mag" || strKind == "book";
}
bool IsRecentKind(const CString& strKind) {
    return strKind == "mag_read" || strKind == "book_read";
}

} // namespace

CMagInfoList* CMagShelf::ListOf(const CString& strKind) {
    if (strKind == "mag")
        return &m_arrMag;
    if (strKind == "book")
        return &m_arrBook;
    if (strKind == "mag_read")
        return &m_arrMagRead;
    if (strKind == "book_read")
        return &m_arrBookRead;
    return nullptr;
}

void CMagShelf::TrimRecent(CMagInfoList& arrList) {
    if (arrList.GetSize() > MAX_RECENT_READS)
        arrList.RemoveAt(MAX_RECENT_READS, arrList.GetSize() - MAX_RECENT_READS);
}

void CMagShelf::RemovePid(CMagInfoList& arrList, const CString& strPid) {
    for (INT_PTR i = 0; i < arrList.GetSize(); ++i) {
        if (arrList[i]->pid == strPid) {
            arrList.RemoveAt(i);
            return; // a list holds each pid once
        }
    }
}

void CMagShelf::LoadAll() {
    struct {
        const CString* pPath;
        CMagInfoList* pList;
    } files[] = {
        {&g_AppPathInfo.m_strBookShelfXml, &m_arrBook},
        {&g_AppPathInfo.m_strMagShelfXml, &m_arrMag},
        {&g_AppPathInfo.m_strBookNewReadXml, &m_arrBookRead},
        {&g_AppPathInfo.m_strMagNewReadXml, &m_arrMagRead},
    };
    for (auto& f : files) {
        CString strXml;
        g_CommonFunc.ReadWholeFile(*f.pPath, strXml); // a missing file reads as ""
        ParseBooklist(strXml, *f.pList, FALSE);
    }
}

void CMagShelf::SaveList(const CMagInfoList& arrList, const CString& strPath) {
    // Held across the write too: two saves of one list land in the order they were built, so an
    // older text never replaces a newer one. The write replaces the file atomically.
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    g_CommonFunc.WriteWholeFile(strPath, WriteBooklistXml(arrList));
}

void CMagShelf::Save(CString strKind) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    bool bAll = strKind == "all";
    if (bAll || strKind == "book")
        SaveList(m_arrBook, g_AppPathInfo.m_strBookShelfXml);
    if (bAll || strKind == "mag")
        SaveList(m_arrMag, g_AppPathInfo.m_strMagShelfXml);
    if (bAll || strKind == "book_read")
        SaveList(m_arrBookRead, g_AppPathInfo.m_strBookNewReadXml);
    if (bAll || strKind == "mag_read")
        SaveList(m_arrMagRead, g_AppPathInfo.m_strMagNewReadXml);
}

BOOL CMagShelf::AddRecentRead(CMagInfo* pItem) {
    if (pItem == nullptr)
        return TRUE;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    CString strKind;
    if (pItem->type == "book")
        strKind = "book_read";
    else if (pItem->type == "mag")
        strKind = "mag_read";
    else
        return TRUE;
    CMagInfoList& arrList = *ListOf(strKind);
    RemovePid(arrList, pItem->pid);
    arrList.InsertAt(0, pItem);
    KeepRecord(pItem);
    TrimRecent(arrList);
    Save(strKind);
    return TRUE;
}

BOOL CMagShelf::Remove(CString strKind, CString strPid) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (strKind == "book") {
        RemovePid(m_arrBook, strPid);
        RemovePid(m_arrBookRead, strPid);
        Save("book");
        Save("book_read");
    } else if (strKind == "mag") {
        RemovePid(m_arrMag, strPid);
        RemovePid(m_arrMagRead, strPid);
        Save("mag");
        Save("mag_read");
    } else if (IsRecentKind(strKind)) {
        RemovePid(*ListOf(strKind), strPid);
        Save(strKind);
    }
    return TRUE;
}

BOOL CMagShelf::Add(CMagInfo* pItem, CString strKind, BOOL bAtFront) {
    if (pItem == nullptr)
        return FALSE;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    CMagInfoList* pList = ListOf(strKind);
    if (pList == nullptr || FindByPid(pItem->pid, *pList) != nullptr)
        return FALSE;
    if (bAtFront)
        pList->InsertAt(0, pItem);
    else
        pList->Add(pItem);
    KeepRecord(pItem);
    Save(strKind);
    return TRUE;
}

BOOL CMagShelf::Exists(CString strKind, CString strPid) {
    return Find(strKind, strPid) != nullptr;
}

BOOL CMagShelf::GetList(CString strKind, CMagInfoList& arrItems) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    CMagInfoList* pList = ListOf(strKind);
    if (pList == nullptr) {
        arrItems.RemoveAll();
        return FALSE;
    }
    arrItems.Copy(*pList);
    return TRUE;
}

CMagInfo* CMagShelf::Find(CString strKind, CString strPid) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    CMagInfoList* pList = ListOf(strKind);
    return pList ? FindByPid(strPid, *pList) : nullptr;
}

CMagInfo* CMagShelf::FindByPid(CString strPid, const CMagInfoList& arrList) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (CMagInfo* pItem : arrList)
        if (pItem->pid == strPid)
            return pItem;
    return nullptr;
}

CMagInfo* CMagShelf::FindFirstWaiting() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const CMagInfoList* pList : {&m_arrMag, &m_arrBook})
        for (CMagInfo* pItem : *pList)
            if (pItem->down == DOWN_STATE_WAITING)
                return pItem;
    return nullptr;
}

BOOL CMagShelf::SortIdListHas(const CString& strSortIdList, const CString& strSortId) {
    if (strSortId.IsEmpty())
        return FALSE;
    const std::string& list = strSortIdList.str();
    const std::string& id = strSortId.str();
    size_t from = 0;
    while (from < list.size()) {
        size_t end = list.find(',', from);
        if (end == std::string::npos)
            end = list.size();
        if (list.compare(from, end - from, id) == 0)
            return TRUE;
        from = end + 1;
    }
    return FALSE;
}

CString CMagShelf::GetSortIdList(CString strKind) {
    if (!IsShelfKind(strKind))
        return "";
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    CString strResult;
    // Whole entries are compared: a text search would take "3," for found inside "13,". A record
    // without a category names none.
    for (CMagInfo* pItem : *ListOf(strKind)) {
        if (!pItem->sort_id.IsEmpty() && !SortIdListHas(strResult, pItem->sort_id)) {
            strResult += pItem->sort_id;
            strResult += ",";
        }
    }
    return strResult;
}

CMagInfo* CMagShelf::AddFromXml(CString strXml, CString strKind) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    CMagInfoList* pList = ListOf(strKind);
    if (pList == nullptr)
        return nullptr;
    CMagInfo* pLast = ParseBooklist(strXml, *pList, TRUE);
    if (pLast != nullptr) {
        if (IsRecentKind(strKind))
            TrimRecent(*pList);
        Save(strKind);
    }
    return pLast;
}

CString CMagShelf::WriteBooklistXml(const CMagInfoList& arrList) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::string out;
    out.reserve(static_cast<size_t>(arrList.GetSize()) * 640 + 64);
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n";
    char szNumber[32];
    for (const CMagInfo* pItem : arrList) {
        out += "<booklist>";
        for (const BooklistField& f : s_fields) {
            out += '<';
            out += f.pszTag;
            out += '>';
            switch (f.nForm) {
            case FORM_PLAIN:
                AppendEscaped(out, (pItem->*f.pStr).str());
                break;
            case FORM_CDATA:
                AppendCData(out, (pItem->*f.pStr).str());
                break;
            case FORM_INT64:
                snprintf(szNumber, sizeof szNumber, "%lld", static_cast<long long>(pItem->*f.pInt64));
                out += szNumber;
                break;
            case FORM_INT:
                snprintf(szNumber, sizeof szNumber, "%d", pItem->*f.pInt);
                out += szNumber;
                break;
            }
            out += "</";
            out += f.pszTag;
            out += ">\r\n";
        }
        out += "</booklist>";
    }
    out += "</api>\r\n";
    return CString(std::move(out));
}

void CMagShelf::ReadBooklistRecord(CString strContent, CMagInfo* pItem) {
    if (pItem == nullptr)
        return;
    CXmlDocument doc;
    doc.SetDocText(strContent);
    // Each search goes on after the last field found, so a field standing before it is not seen.
    for (const BooklistField& f : s_fields) {
        if (!doc.FindElement(f.pszTag))
            continue;
        CString strText = doc.GetElementText();
        switch (f.nForm) {
        case FORM_PLAIN:
        case FORM_CDATA:
            pItem->*f.pStr = strText;
            break;
        case FORM_INT64:
            pItem->*f.pInt64 = ParseDecimal(strText);
            break;
        case FORM_INT:
            pItem->*f.pInt = ClampToInt(ParseDecimal(strText));
            break;
        }
    }
}

CMagInfo* CMagShelf::ParseBooklist(CString strXml, CMagInfoList& arrList, BOOL bAtFront) {
    if (strXml.IsEmpty())
        return nullptr;
    // The text is read without the lock; only the merge into the list takes it.
    std::vector<CMagInfo*> parsed;
    {
        CXmlDocument doc;
        doc.SetDocText(strXml);
        doc.ResetLevel();
        if (!doc.FindElement("api"))
            return nullptr;
        doc.IntoElement();
        while (doc.FindElement("booklist")) {
            CString strContent = doc.GetRawContent();
            if (strContent.IsEmpty())
                continue;
            auto* pItem = new CMagInfo;
            ReadBooklistRecord(strContent, pItem);
            parsed.push_back(pItem);
        }
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    // The pids the list holds, so that a shelf of thousands loads in linear time.
    std::unordered_set<std::string> pids;
    pids.reserve(static_cast<size_t>(arrList.GetSize()) + parsed.size());
    for (const CMagInfo* pItem : arrList)
        pids.insert(pItem->pid.str());
    CMagInfo* pLast = nullptr;
    for (CMagInfo* pItem : parsed) {
        // Records added earlier from the same text count: the first of equal pids wins.
        if (pItem->pid.IsEmpty() || !pids.insert(pItem->pid.str()).second) {
            delete pItem;
            continue;
        }
        if (pItem->down != DOWN_STATE_DONE)
            pItem->down = DOWN_STATE_WAITING;
        if (bAtFront)
            arrList.InsertAt(0, pItem);
        else
            arrList.Add(pItem);
        KeepRecord(pItem);
        pLast = pItem;
    }
    return pLast;
}
