// Load and save of a 10,000-record shelf file through the shelf store, with the record count and
// the time per record. Where pugixml is installed, its parse of the same file is printed beside.
#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "library/MagShelf.h"

#ifdef HAVE_PUGIXML
#include <pugixml.hpp>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const int kRecords = 10000;
const int kRounds = 5;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main() {
    char tmpl[] = "/tmp/shelfbench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    std::string win = tmpl;
    for (char& c : win)
        if (c == '/')
            c = '\\';
    g_AppPathInfo.m_strMagShelfXml = (win + "\\MagShelf.xml").c_str();
    g_AppPathInfo.m_strBookShelfXml = (win + "\\BookShelf.xml").c_str();
    g_AppPathInfo.m_strMagNewReadXml = (win + "\\MagNewRead.xml").c_str();
    g_AppPathInfo.m_strBookNewReadXml = (win + "\\BookNewRead.xml").c_str();

    {
        CMagShelf source;
        CMagInfoList list;
        for (int i = 0; i < kRecords; ++i) {
            auto* p = new CMagInfo;
            std::string n = std::to_string(i);
            p->id = n.c_str();
            p->pid = ("p" + n).c_str();
            p->sort_id = std::to_string(i % 40).c_str();
            p->name = ("\xD6\xD0\xCE\xC4\xD4\xD3\xD6\xBE " + n).c_str();
            p->date = "2012-11";
            p->isFullSwf = "1";
            p->price = "3.50";
            p->exe_size = "12.5M";
            p->load_url = ("http://store.example/pkg/" + n + ".exe").c_str();
            p->pic1 = ("http://store.example/cover/" + n + ".jpg").c_str();
            p->description = "A description of the issue, a few dozen bytes long & with <markup>.";
            p->add_time = "2012-11-05 10:00:00";
            p->filelen = 31457280;
            p->downlen = i % 3 ? 31457280 : 1048576;
            p->down = i % 3 ? DOWN_STATE_DONE : DOWN_STATE_WAITING;
            p->type = "mag";
            p->savepath = ("\\home\\u\\Downloads\\" + n + ".exe").c_str();
            list.Add(p);
        }
        g_CommonFunc.WriteWholeFile(g_AppPathInfo.m_strMagShelfXml, source.WriteBooklistXml(list));
        for (CMagInfo* p : list)
            delete p;
    }
    CString strFile;
    g_CommonFunc.ReadWholeFile(g_AppPathInfo.m_strMagShelfXml, strFile);

    double load = 1e9, save = 1e9;
    INT_PTR loaded = 0;
    for (int r = 0; r < kRounds; ++r) {
        CMagShelf shelf;
        auto t0 = std::chrono::steady_clock::now();
        shelf.LoadAll();
        load = std::min(load, Seconds(t0));
        CMagInfoList list;
        shelf.GetList("mag", list);
        loaded = list.GetSize();
        t0 = std::chrono::steady_clock::now();
        shelf.Save("mag");
        save = std::min(save, Seconds(t0));
    }
    std::printf("shelf file: %d records, %d bytes; best of %d rounds\n", static_cast<int>(loaded),
                strFile.GetLength(), kRounds);
    std::printf("load (read file, parse, build records): %8.2f ms  %6.2f us/record\n", load * 1e3,
                load * 1e6 / kRecords);
    std::printf("save (write booklist text, replace file): %8.2f ms  %6.2f us/record\n", save * 1e3,
                save * 1e6 / kRecords);
#ifdef HAVE_PUGIXML
    double peer = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        pugi::xml_document doc;
        doc.load_buffer(strFile.GetString(), static_cast<size_t>(strFile.GetLength()));
        int n = 0;
        for (auto b : doc.child("api").children("booklist"))
            n += b.child("pid") ? 1 : 0;
        peer = std::min(peer, Seconds(t0));
        if (n != kRecords)
            std::printf("pugixml saw %d records\n", n);
    }
    std::printf("pugixml parse of the same file (DOM only): %8.2f ms; load / pugixml = %.1f\n", peer * 1e3,
                load / peer);
#endif
    std::filesystem::remove_all(tmpl);
    return 0;
}
