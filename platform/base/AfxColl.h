// The framework's collection classes: growable arrays, doubly linked lists and hashed maps.
// Arrays and lists keep the framework's index and POSITION conventions; a map walks its
// entries in the order they were first added, which keeps iteration reproducible.
#pragma once

#include "platform/base/AfxStr.h"
#include "platform/base/Win32Types.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// An opaque place in a list or map; NULL means "before the first" or "past the last".
struct __POSITION {};
using POSITION = __POSITION*;

#ifndef BEFORE_START_POSITION
#define BEFORE_START_POSITION (reinterpret_cast<POSITION>(static_cast<intptr_t>(-1)))
#endif

// ---------------------------------------------------------------------------------------
// Arrays. Indices are ints; out-of-range reads are the caller's fault, as in the framework,
// but writes through SetAtGrow, InsertAt and SetSize grow the array as needed.

template <typename TYPE, typename ARG_TYPE = const TYPE&> class CArray {
public:
    CArray() = default;
    CArray(const CArray&) = default;
    CArray(CArray&&) noexcept = default;
    CArray& operator=(const CArray&) = default;
    CArray& operator=(CArray&&) noexcept = default;
    virtual ~CArray() = default;

    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_v.size()); }
    INT_PTR GetCount() const { return static_cast<INT_PTR>(m_v.size()); }
    BOOL IsEmpty() const { return m_v.empty(); }
    INT_PTR GetUpperBound() const { return static_cast<INT_PTR>(m_v.size()) - 1; }

    // nGrowBy is a hint for how the buffer grows; it never changes the contents.
    void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1) {
        (void)nGrowBy;
        if (nNewSize < 0)
            nNewSize = 0;
        m_v.resize(static_cast<size_t>(nNewSize));
    }
    void FreeExtra() { m_v.shrink_to_fit(); }
    void RemoveAll() { m_v.clear(); }

    const TYPE& GetAt(INT_PTR nIndex) const { return m_v[static_cast<size_t>(nIndex)]; }
    TYPE& GetAt(INT_PTR nIndex) { return m_v[static_cast<size_t>(nIndex)]; }
    void SetAt(INT_PTR nIndex, ARG_TYPE newElement) { m_v[static_cast<size_t>(nIndex)] = newElement; }
    TYPE& ElementAt(INT_PTR nIndex) { return m_v[static_cast<size_t>(nIndex)]; }
    const TYPE& ElementAt(INT_PTR nIndex) const { return m_v[static_cast<size_t>(nIndex)]; }
    const TYPE& operator[](INT_PTR nIndex) const { return m_v[static_cast<size_t>(nIndex)]; }
    TYPE& operator[](INT_PTR nIndex) { return m_v[static_cast<size_t>(nIndex)]; }

    const TYPE* GetData() const { return m_v.empty() ? nullptr : m_v.data(); }
    TYPE* GetData() { return m_v.empty() ? nullptr : m_v.data(); }

    void SetAtGrow(INT_PTR nIndex, ARG_TYPE newElement) {
        if (nIndex < 0)
            return;
        if (static_cast<size_t>(nIndex) >= m_v.size()) {
            TYPE copy(newElement); // newElement may live inside the buffer being grown
            m_v.resize(static_cast<size_t>(nIndex) + 1);
            m_v[static_cast<size_t>(nIndex)] = std::move(copy);
        } else {
            m_v[static_cast<size_t>(nIndex)] = newElement;
        }
    }
    INT_PTR Add(ARG_TYPE newElement) {
        m_v.push_back(TYPE(newElement));
        return static_cast<INT_PTR>(m_v.size()) - 1;
    }
    INT_PTR Append(const CArray& src) {
        INT_PTR nOld = GetSize();
        if (&src == this) {
            std::vector<TYPE> copy(m_v);
            m_v.insert(m_v.end(), copy.begin(), copy.end());
        } else {
            m_v.insert(m_v.end(), src.m_v.begin(), src.m_v.end());
        }
        return nOld;
    }
    void Copy(const CArray& src) {
        if (&src != this)
            m_v = src.m_v;
    }
    // Inserting past the end grows the array with default elements first.
    void InsertAt(INT_PTR nIndex, ARG_TYPE newElement, INT_PTR nCount = 1) {
        if (nIndex < 0 || nCount <= 0)
            return;
        TYPE copy(newElement);
        if (static_cast<size_t>(nIndex) > m_v.size())
            m_v.resize(static_cast<size_t>(nIndex));
        m_v.insert(m_v.begin() + nIndex, static_cast<size_t>(nCount), copy);
    }
    void InsertAt(INT_PTR nStartIndex, const CArray* pNewArray) {
        if (pNewArray == nullptr || nStartIndex < 0)
            return;
        std::vector<TYPE> copy(pNewArray->m_v);
        if (static_cast<size_t>(nStartIndex) > m_v.size())
            m_v.resize(static_cast<size_t>(nStartIndex));
        m_v.insert(m_v.begin() + nStartIndex, copy.begin(), copy.end());
    }
    // Removal is clamped to the elements that exist.
    void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1) {
        if (nIndex < 0 || nCount <= 0 || static_cast<size_t>(nIndex) >= m_v.size())
            return;
        size_t last = std::min(m_v.size(), static_cast<size_t>(nIndex) + static_cast<size_t>(nCount));
        m_v.erase(m_v.begin() + nIndex, m_v.begin() + static_cast<std::ptrdiff_t>(last));
    }

    // Standard iteration, for range-for in new code.
    auto begin() { return m_v.begin(); }
    auto end() { return m_v.end(); }
    auto begin() const { return m_v.begin(); }
    auto end() const { return m_v.end(); }

protected:
    std::vector<TYPE> m_v;
};

class CStringArray : public CArray<CString, const CString&> {
public:
    using CArray::Add;
    using CArray::CArray;
    INT_PTR Add(const char* psz) { return CArray::Add(CString(psz)); }
};

class CPtrArray : public CArray<void*, void*> {
public:
    using CArray::CArray;
};

class CByteArray : public CArray<BYTE, BYTE> {
public:
    using CArray::CArray;
};

class CWordArray : public CArray<WORD, WORD> {
public:
    using CArray::CArray;
};

class CDWordArray : public CArray<DWORD, DWORD> {
public:
    using CArray::CArray;
};

class CUIntArray : public CArray<UINT, UINT> {
public:
    using CArray::CArray;
};

// ---------------------------------------------------------------------------------------
// Lists. A POSITION is a node; it stays valid until that node is removed.

template <typename TYPE, typename ARG_TYPE = const TYPE&> class CList {
    struct Node : __POSITION {
        Node* prev = nullptr;
        Node* next = nullptr;
        TYPE data;
        explicit Node(ARG_TYPE v) : data(v) {}
    };
    static Node* N(POSITION p) { return static_cast<Node*>(p); }

public:
    explicit CList(INT_PTR nBlockSize = 10) { (void)nBlockSize; }
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;
    virtual ~CList() { RemoveAll(); }

    INT_PTR GetCount() const { return m_nCount; }
    INT_PTR GetSize() const { return m_nCount; }
    BOOL IsEmpty() const { return m_nCount == 0; }

    TYPE& GetHead() { return m_pHead->data; }
    const TYPE& GetHead() const { return m_pHead->data; }
    TYPE& GetTail() { return m_pTail->data; }
    const TYPE& GetTail() const { return m_pTail->data; }

    TYPE RemoveHead() {
        Node* n = m_pHead;
        TYPE v = std::move(n->data);
        Unlink(n);
        return v;
    }
    TYPE RemoveTail() {
        Node* n = m_pTail;
        TYPE v = std::move(n->data);
        Unlink(n);
        return v;
    }

    POSITION AddHead(ARG_TYPE newElement) { return InsertBefore(m_pHead, newElement); }
    POSITION AddTail(ARG_TYPE newElement) { return InsertAfter(m_pTail, newElement); }
    void AddHead(CList* pNewList) {
        if (pNewList == nullptr)
            return;
        std::vector<TYPE> copy;
        for (Node* n = pNewList->m_pTail; n; n = n->prev)
            copy.push_back(n->data);
        for (auto& v : copy)
            AddHead(v);
    }
    void AddTail(CList* pNewList) {
        if (pNewList == nullptr)
            return;
        std::vector<TYPE> copy;
        for (Node* n = pNewList->m_pHead; n; n = n->next)
            copy.push_back(n->data);
        for (auto& v : copy)
            AddTail(v);
    }
    void RemoveAll() {
        Node* n = m_pHead;
        while (n) {
            Node* next = n->next;
            delete n;
            n = next;
        }
        m_pHead = m_pTail = nullptr;
        m_nCount = 0;
    }

    POSITION GetHeadPosition() const { return m_pHead; }
    POSITION GetTailPosition() const { return m_pTail; }
    TYPE& GetNext(POSITION& rPosition) {
        Node* n = N(rPosition);
        rPosition = n->next;
        return n->data;
    }
    const TYPE& GetNext(POSITION& rPosition) const {
        Node* n = N(rPosition);
        rPosition = n->next;
        return n->data;
    }
    TYPE& GetPrev(POSITION& rPosition) {
        Node* n = N(rPosition);
        rPosition = n->prev;
        return n->data;
    }
    const TYPE& GetPrev(POSITION& rPosition) const {
        Node* n = N(rPosition);
        rPosition = n->prev;
        return n->data;
    }
    TYPE& GetAt(POSITION position) { return N(position)->data; }
    const TYPE& GetAt(POSITION position) const { return N(position)->data; }
    void SetAt(POSITION pos, ARG_TYPE newElement) { N(pos)->data = newElement; }
    void RemoveAt(POSITION position) {
        if (position)
            Unlink(N(position));
    }

    // A NULL position inserts at the head (InsertBefore) or the tail (InsertAfter).
    POSITION InsertBefore(POSITION position, ARG_TYPE newElement) {
        Node* at = N(position);
        Node* n = new Node(newElement);
        if (at == nullptr)
            at = m_pHead;
        if (at == nullptr) {
            m_pHead = m_pTail = n;
        } else {
            n->next = at;
            n->prev = at->prev;
            if (at->prev)
                at->prev->next = n;
            else
                m_pHead = n;
            at->prev = n;
        }
        ++m_nCount;
        return n;
    }
    POSITION InsertAfter(POSITION position, ARG_TYPE newElement) {
        Node* at = N(position);
        Node* n = new Node(newElement);
        if (at == nullptr)
            at = m_pTail;
        if (at == nullptr) {
            m_pHead = m_pTail = n;
        } else {
            n->prev = at;
            n->next = at->next;
            if (at->next)
                at->next->prev = n;
            else
                m_pTail = n;
            at->next = n;
        }
        ++m_nCount;
        return n;
    }

    POSITION Find(ARG_TYPE searchValue, POSITION startAfter = nullptr) const {
        Node* n = startAfter ? N(startAfter)->next : m_pHead;
        for (; n; n = n->next)
            if (n->data == searchValue)
                return n;
        return nullptr;
    }
    POSITION FindIndex(INT_PTR nIndex) const {
        if (nIndex < 0 || nIndex >= m_nCount)
            return nullptr;
        Node* n = m_pHead;
        while (nIndex-- > 0)
            n = n->next;
        return n;
    }

private:
    void Unlink(Node* n) {
        if (n->prev)
            n->prev->next = n->next;
        else
            m_pHead = n->next;
        if (n->next)
            n->next->prev = n->prev;
        else
            m_pTail = n->prev;
        delete n;
        --m_nCount;
    }

    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    INT_PTR m_nCount = 0;
};

class CStringList : public CList<CString, const CString&> {
public:
    using CList::AddHead;
    using CList::AddTail;
    using CList::CList;
    using CList::Find;
    POSITION AddHead(const char* psz) { return CList::AddHead(CString(psz)); }
    POSITION AddTail(const char* psz) { return CList::AddTail(CString(psz)); }
    POSITION Find(const char* psz, POSITION startAfter = nullptr) const {
        return CList::Find(CString(psz), startAfter);
    }
};

class CPtrList : public CList<void*, void*> {
public:
    using CList::CList;
};

// ---------------------------------------------------------------------------------------
// Maps. Keys compare exactly (CString keys byte-wise). GetNextAssoc walks entries in the
// order they were first added; removing the entry just returned is safe during the walk.

struct AfxMapHash {
    size_t operator()(const CString& s) const { return std::hash<std::string>()(s.str()); }
    template <typename T> size_t operator()(const T& v) const { return std::hash<T>()(v); }
};

template <typename KEY, typename ARG_KEY, typename VALUE, typename ARG_VALUE> class CMap {
    struct Assoc : __POSITION {
        Assoc* prev = nullptr;
        Assoc* next = nullptr;
        KEY key;
        VALUE value{};
        explicit Assoc(const KEY& k) : key(k) {}
    };

public:
    // The block size and table size tune the framework's allocator; lookups do not depend on them.
    explicit CMap(INT_PTR nBlockSize = 10) { (void)nBlockSize; }
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;
    virtual ~CMap() { RemoveAll(); }

    void InitHashTable(UINT hashSize, BOOL bAllocNow = TRUE) {
        (void)bAllocNow;
        m_index.reserve(hashSize);
    }
    UINT GetHashTableSize() const { return static_cast<UINT>(m_index.bucket_count()); }

    INT_PTR GetCount() const { return static_cast<INT_PTR>(m_index.size()); }
    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_index.size()); }
    BOOL IsEmpty() const { return m_index.empty(); }

    BOOL Lookup(ARG_KEY key, VALUE& rValue) const {
        auto it = m_index.find(KEY(key));
        if (it == m_index.end())
            return FALSE;
        rValue = it->second->value;
        return TRUE;
    }
    // Adds the key with a default value when it is missing.
    VALUE& operator[](ARG_KEY key) { return Get(KEY(key))->value; }
    void SetAt(ARG_KEY key, ARG_VALUE newValue) { Get(KEY(key))->value = newValue; }
    BOOL RemoveKey(ARG_KEY key) {
        auto it = m_index.find(KEY(key));
        if (it == m_index.end())
            return FALSE;
        Assoc* a = it->second;
        m_index.erase(it);
        if (a->prev)
            a->prev->next = a->next;
        else
            m_pHead = a->next;
        if (a->next)
            a->next->prev = a->prev;
        else
            m_pTail = a->prev;
        delete a;
        return TRUE;
    }
    void RemoveAll() {
        Assoc* a = m_pHead;
        while (a) {
            Assoc* next = a->next;
            delete a;
            a = next;
        }
        m_pHead = m_pTail = nullptr;
        m_index.clear();
    }

    POSITION GetStartPosition() const { return m_pHead; }
    void GetNextAssoc(POSITION& rNextPosition, KEY& rKey, VALUE& rValue) const {
        Assoc* a = rNextPosition == BEFORE_START_POSITION ? m_pHead : static_cast<Assoc*>(rNextPosition);
        rKey = a->key;
        rValue = a->value;
        rNextPosition = a->next;
    }

private:
    Assoc* Get(const KEY& key) {
        auto it = m_index.find(key);
        if (it != m_index.end())
            return it->second;
        Assoc* a = new Assoc(key);
        a->prev = m_pTail;
        if (m_pTail)
            m_pTail->next = a;
        else
            m_pHead = a;
        m_pTail = a;
        m_index.emplace(a->key, a);
        return a;
    }

    std::unordered_map<KEY, Assoc*, AfxMapHash> m_index;
    Assoc* m_pHead = nullptr;
    Assoc* m_pTail = nullptr;
};

class CMapStringToPtr : public CMap<CString, const char*, void*, void*> {
public:
    using CMap::CMap;
};

class CMapStringToString : public CMap<CString, const char*, CString, const char*> {
public:
    using CMap::CMap;
};

class CMapPtrToPtr : public CMap<void*, void*, void*, void*> {
public:
    using CMap::CMap;
};

class CMapWordToPtr : public CMap<WORD, WORD, void*, void*> {
public:
    using CMap::CMap;
};
