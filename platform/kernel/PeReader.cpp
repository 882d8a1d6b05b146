#include "platform/kernel/PeReader.h"

namespace {

// Resource trees deeper than type/name/language do not occur; more entries than this are taken for
// a directory that points into itself to multiply the work.
constexpr size_t kMaxResources = 65536;
constexpr size_t kMaxVisitedEntries = 1u << 20;

struct Section {
    uint32_t va;
    uint32_t vsize;
    uint32_t rawSize;
    uint32_t rawPtr;
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}

    bool Has(size_t off, size_t len) const { return off <= m_n && len <= m_n - off; }
    uint16_t U16(size_t off) const { return static_cast<uint16_t>(m_p[off] | (m_p[off + 1] << 8)); }
    uint32_t U32(size_t off) const {
        return static_cast<uint32_t>(m_p[off]) | (static_cast<uint32_t>(m_p[off + 1]) << 8) |
               (static_cast<uint32_t>(m_p[off + 2]) << 16) | (static_cast<uint32_t>(m_p[off + 3]) << 24);
    }

    bool Parse(std::vector<PeResource>& out, std::string& err);

private:
    // File offset of the range [rva, rva + len) when it lies inside one section's raw data.
    bool MapRva(uint32_t rva, uint32_t len, size_t& off) const;
    bool ReadDir(size_t dirOff, int level, PeResource& cur, std::vector<PeResource>& out, std::string& err,
                 size_t ancestors[3]);
    bool ReadName(uint32_t rel, std::u16string& name) const;

    const uint8_t* m_p;
    size_t m_n;
    std::vector<Section> m_sections;
    size_t m_rootOff = 0; // file offset of the resource root
    size_t m_rootEnd = 0; // end of the region the resource tree may use
    size_t m_visited = 0;
};

bool Reader::MapRva(uint32_t rva, uint32_t len, size_t& off) const {
    for (const Section& s : m_sections) {
        // A section without raw data maps nothing, not even an empty range at its start.
        if (rva < s.va || s.rawSize == 0)
            continue;
        uint64_t delta = static_cast<uint64_t>(rva) - s.va;
        if (delta + len > s.rawSize)
            continue;
        off = static_cast<size_t>(s.rawPtr + delta);
        return true;
    }
    return false;
}

bool Reader::ReadName(uint32_t rel, std::u16string& name) const {
    size_t off = m_rootOff + rel;
    if (rel > m_rootEnd - m_rootOff || m_rootEnd - off < 2)
        return false;
    size_t len = U16(off);
    if ((m_rootEnd - off - 2) / 2 < len)
        return false;
    name.resize(len);
    for (size_t i = 0; i < len; ++i)
        name[i] = static_cast<char16_t>(U16(off + 2 + 2 * i));
    return true;
}

bool Reader::ReadDir(size_t dirOff, int level, PeResource& cur, std::vector<PeResource>& out,
                     std::string& err, size_t ancestors[3]) {
    if (dirOff > m_rootEnd || m_rootEnd - dirOff < 16) {
        err = "resource directory outside the resource section";
        return false;
    }
    for (int i = 0; i < level; ++i) {
        if (ancestors[i] == dirOff) {
            err = "resource directory loop";
            return false;
        }
    }
    ancestors[level] = dirOff;
    size_t count = static_cast<size_t>(U16(dirOff + 12)) + U16(dirOff + 14);
    if ((m_rootEnd - dirOff - 16) / 8 < count) {
        err = "resource directory entries outside the resource section";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        if (++m_visited > kMaxVisitedEntries) {
            err = "too many resource directory entries";
            return false;
        }
        size_t e = dirOff + 16 + 8 * i;
        uint32_t nameField = U32(e);
        uint32_t dataField = U32(e + 4);
        PeResourceKey key;
        if (nameField & 0x80000000u) {
            key.bIsId = false;
            if (!ReadName(nameField & 0x7FFFFFFFu, key.strName)) {
                err = "resource name outside the resource section";
                return false;
            }
        } else {
            key.wId = static_cast<uint16_t>(nameField & 0xFFFF);
        }
        bool isDir = (dataField & 0x80000000u) != 0;
        uint32_t rel = dataField & 0x7FFFFFFFu;
        if (rel > m_rootEnd - m_rootOff) {
            err = "resource entry outside the resource section";
            return false;
        }
        size_t target = m_rootOff + rel;
        if (level < 2) {
            if (!isDir) {
                err = "resource data where a directory belongs";
                return false;
            }
            (level == 0 ? cur.type : cur.name) = key;
            if (!ReadDir(target, level + 1, cur, out, err, ancestors))
                return false;
            continue;
        }
        if (isDir) {
            err = "resource directory nested too deep";
            return false;
        }
        if (m_rootEnd - target < 16) {
            err = "resource data entry outside the resource section";
            return false;
        }
        if (out.size() >= kMaxResources) {
            err = "too many resources";
            return false;
        }
        PeResource r = cur;
        r.wLanguage = key.bIsId ? key.wId : 0;
        uint32_t rva = U32(target);
        r.cbSize = U32(target + 4);
        if (!MapRva(rva, r.cbSize, r.nFileOffset)) {
            err = "resource data outside the file";
            return false;
        }
        out.push_back(std::move(r));
    }
    return true;
}

bool Reader::Parse(std::vector<PeResource>& out, std::string& err) {
    if (!Has(0, 64) || m_p[0] != 'M' || m_p[1] != 'Z') {
        err = "no executable header";
        return false;
    }
    size_t pe = U32(0x3C);
    if (!Has(pe, 24) || m_p[pe] != 'P' || m_p[pe + 1] != 'E' || m_p[pe + 2] != 0 || m_p[pe + 3] != 0) {
        err = "no PE signature";
        return false;
    }
    size_t coff = pe + 4;
    size_t nSections = U16(coff + 2);
    size_t optSize = U16(coff + 16);
    size_t opt = coff + 20;
    if (!Has(opt, optSize) || optSize < 2) {
        err = "optional header outside the file";
        return false;
    }
    uint16_t magic = U16(opt);
    size_t nDirsOff, dirsOff;
    if (magic == 0x10b) {
        nDirsOff = 92;
        dirsOff = 96;
    } else if (magic == 0x20b) {
        nDirsOff = 108;
        dirsOff = 112;
    } else {
        err = "unknown optional header";
        return false;
    }
    if (optSize < dirsOff) {
        err = "optional header too short";
        return false;
    }
    uint32_t nDirs = U32(opt + nDirsOff);
    uint32_t rsrcRva = 0, rsrcSize = 0;
    if (nDirs > 2 && optSize >= dirsOff + 3 * 8) {
        rsrcRva = U32(opt + dirsOff + 16);
        rsrcSize = U32(opt + dirsOff + 20);
    }
    size_t secTable = opt + optSize;
    if (nSections == 0 || !Has(secTable, nSections * 40)) {
        err = "section table outside the file";
        return false;
    }
    for (size_t i = 0; i < nSections; ++i) {
        size_t s = secTable + 40 * i;
        Section sec{U32(s + 12), U32(s + 8), U32(s + 16), U32(s + 20)};
        if (sec.rawSize != 0 && !Has(sec.rawPtr, sec.rawSize)) {
            err = "section data past the end of the file";
            return false;
        }
        m_sections.push_back(sec);
    }
    out.clear();
    if (rsrcRva == 0 || rsrcSize == 0)
        return true; // an executable without resources
    // The tree may use the rest of the section that holds its root.
    const Section* home = nullptr;
    for (const Section& s : m_sections) {
        if (rsrcRva >= s.va && static_cast<uint64_t>(rsrcRva) - s.va < s.rawSize) {
            home = &s;
            break;
        }
    }
    if (!home) {
        err = "resource directory outside the file";
        return false;
    }
    m_rootOff = home->rawPtr + (rsrcRva - home->va);
    m_rootEnd = static_cast<size_t>(home->rawPtr) + home->rawSize;
    PeResource cur;
    size_t ancestors[3] = {};
    if (!ReadDir(m_rootOff, 0, cur, out, err, ancestors)) {
        out.clear();
        return false;
    }
    return true;
}

} // namespace

bool PeReadResources(const uint8_t* pData, size_t cbData, std::vector<PeResource>& out,
                     std::string* pstrError) {
    std::string err;
    Reader r(pData, pData ? cbData : 0);
    bool ok = r.Parse(out, err);
    if (!ok) {
        out.clear();
        if (pstrError)
            *pstrError = err;
    }
    return ok;
}
