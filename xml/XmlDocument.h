// CXmlDocument: one ANSI text plus an index of element records over it, with a current
// position in the element tree. Values are cut out of the text on request; edits splice the
// text in place and shift the index, so record indexes (positions) stay valid across edits.
#pragma once

#include "platform/base/AfxStr.h"

// Every string argument of the public operations: a borrowed pointer, possibly NULL.
class CXmlStrArg {
public:
    CXmlStrArg(const char* psz) : m_psz(psz) {}
    CXmlStrArg(const CString& str) : m_psz(str.GetString()) {}
    CXmlStrArg(std::nullptr_t) : m_psz(nullptr) {}
    const char* Get() const { return m_psz; }
    bool IsEmpty() const { return m_psz == nullptr || *m_psz == 0; }

private:
    const char* m_psz;
};

// Document flags.
enum : int {
    XDOC_UTF16LE_FILE = 0x1,
    XDOC_UTF8_BOM = 0x4,
    XDOC_IGNORE_CASE = 0x8,
    XDOC_READ_STREAM = 0x10,
    XDOC_WRITE_STREAM = 0x20,
    XDOC_APPEND_STREAM = 0x40,
    XDOC_UTF16BE_FILE = 0x80,
    XDOC_TRIM_WHITESPACE = 0x100,
    XDOC_COLLAPSE_WHITESPACE = 0x200,
};

// Node flags of the editing operations.
enum : int {
    XNODE_CDATA = 0x1,
    XNODE_NO_LINEBREAK = 0x2,
    XNODE_EMPTY_SPACE = 0x4,
    XNODE_KEEP_REFS = 0x8,
    XNODE_UNENDED = 0x10,
    XNODE_ESCAPE_QUOTES = 0x100,
    XNODE_REPLACE_CONTENT = 0x1000,
    XNODE_INSERT_BEFORE = 0x2000,
    XNODE_AS_CHILD = 0x4000,
};

struct XmlElemRecord;
class CXmlRecordArray;
class CXmlScanner;
struct XmlNodeInfo;
class CXmlTagStack;
class CXmlSavedPosMaps;

class CXmlDocument {
public:
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Text and files.
    bool SetDocText(CXmlStrArg text);
    const CString& GetDocText() const { return m_strXml; }
    bool Load(CXmlStrArg fileName);
    bool Save(CXmlStrArg fileName);

    // Navigation.
    bool FindElement(CXmlStrArg name = nullptr);
    bool IntoElement();
    bool OutOfElement();
    void ResetLevel();

    // Reading.
    CString GetElementText() const;
    CString GetRawContent() const;
    CString GetAttribute(CXmlStrArg name) const;

    // Editing. An edit whose text would parse into something else than the index it leaves (a
    // name that cannot stand in a tag, a start tag whose malformed attribute text would swallow the
    // new attribute, markup left open at the end of a text) is refused: false, nothing changes.
    bool AddElement(CXmlStrArg name, CXmlStrArg text = nullptr, int flags = 0);
    bool AddAttribute(CXmlStrArg name, CXmlStrArg value);
    bool SetAttribute(CXmlStrArg name, CXmlStrArg value, int flags = 0);
    bool SetAttribute(CXmlStrArg name, int value, int flags = 0);

    // The result log (XML records of what parsing and file input and output met) and flags.
    const CString& GetResultLog() const { return m_strLog; }
    int GetDocFlags() const { return m_nFlags; }

    // Value transforms.
    static CString EscapeText(const char* text, int flags);
    static CString UnescapeText(const char* text, int length, int flags);
    static CString MakeCData(const char* text);

    // Whole-file workers of Load and Save, usable without a document. The optional encoding
    // overrides an 8-bit file's encoding, or, when empty, receives the encoding found.
    static bool ReadTextFile(CXmlStrArg fileName, CString& text, CString* log, int* flags,
                             CString* encoding = nullptr);
    static bool WriteTextFile(CXmlStrArg fileName, const CString& text, CString* log, int* flags,
                              CString* encoding = nullptr);

private:
    friend class CXmlDocumentInspector; // read-only view of the index for the engine's tests

    // Position and records.
    void SetPos(int parent, int main, int child);
    inline XmlElemRecord& RecordAt(int i) const; // defined in XmlIndex.h
    int NewRecord();
    void ReserveRecords(int n);
    bool IsWellFormed() const;

    // Parsing.
    bool ParseText();
    int BuildElementIndex(int parent, CXmlScanner& scanner);
    void CloseUnended(int elem, int parseParent, int offset2, CXmlTagStack& stack);

    // Editing.
    void ReplaceText(int offset, int removed, const char* inserted, int insertedLen);
    void ShiftOffsets(int record, int delta, bool skipChildren);
    void FreeDescendants(int record);
    int TagNameLength(int record) const;

    CString m_strXml;
    CString m_strLog;
    int m_nParent = 0;
    int m_nMain = 0;
    int m_nChild = 0;
    int m_nNextFree = 0;
    int m_nFreeList = 0;
    int m_nNodeKind = 0;
    int m_nNodeStart = 0;
    int m_nNodeLen = 0;
    int m_nFlags = 0;
    void* m_pStream = nullptr;
    CXmlSavedPosMaps* m_pSavedMaps = nullptr;
    CXmlRecordArray* m_pRecords = nullptr;
};
