// Parses a booklist-like document of about 5 MB and walks every element and attribute, reading
// each attribute value and each leaf's text; pugixml does the same walk on the same bytes.
//
//     xml_bench                      alternating rounds of both, medians and the ratio
//     xml_bench ours|pugixml N       N rounds of one side only, for a profiler's fixed count
//
// Both sides start from the same bytes in memory and own a copy of them (pugixml's load_buffer
// copies as SetDocText does), both free their document in the timed part, and both hand back
// every value as a string of its own, so the value byte counts must agree.
#include "xml/XmlDocument.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <string>
#include <time.h>
#include <vector>
#ifdef HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

std::string MakeBooklist(size_t targetBytes) {
    std::string s = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n";
    for (int i = 0; s.size() < targetBytes; ++i) {
        std::string n = std::to_string(i);
        s += "<booklist kind=\"mag\" seq=\"" + n + "\"><id>" + n + "</id>\r\n<pid>P" + n + "</pid>\r\n";
        s += "<sortid>3</sortid>\r\n<brandid>17</brandid>\r\n<name><![CDATA[\xd6\xd0\xce\xc4 " + n +
             "]]></name>\r\n<date>2012-06-26</date>\r\n<price>9.50</price>\r\n";
        s += "<pic1 w=\"120\" h=\"160\">http://store.example/p/" + n +
             ".jpg</pic1>\r\n<desc><![CDATA[A &amp; B <b>bold</b> \xbc\xf2\xbd\xe9]]></desc>\r\n";
        s += "<recommend>R &amp; D</recommend>\r\n<downlen>0</downlen>\r\n<filelen>123456</filelen>\r\n"
             "<down>2</down>\r\n<type>mag</type>\r\n<savepath><![CDATA[D:\\mag\\" +
             n + ".exe]]></savepath>\r\n</booklist>";
    }
    s += "</api>\r\n";
    return s;
}

// The processor time of this thread, page faults included: time the machine gave to other
// processes meanwhile does not count, so a shared machine disturbs the figure far less than a
// wall clock would.
double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Seconds(const std::function<void()>& f) {
    double t0 = ThreadSeconds();
    f();
    return ThreadSeconds() - t0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

const char* kAttrs[] = {"kind", "seq", "w", "h"};

size_t WalkOurs(CXmlDocument& doc) {
    size_t total = 0;
    int depth = 0;
    doc.ResetLevel();
    for (;;) {
        if (doc.FindElement(nullptr)) {
            for (const char* a : kAttrs)
                total += static_cast<size_t>(doc.GetAttribute(a).GetLength());
            total += static_cast<size_t>(doc.GetElementText().GetLength());
            doc.IntoElement();
            ++depth;
            continue;
        }
        if (depth == 0 || !doc.OutOfElement())
            break;
        --depth;
    }
    return total;
}

size_t RunOurs(const std::string& text) {
    CXmlDocument doc;
    doc.SetDocText(text.c_str());
    return WalkOurs(doc);
}

#ifdef HAVE_PUGIXML
size_t WalkPugi(const pugi::xml_node& node) {
    size_t total = 0;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        for (const char* a : kAttrs)
            total += std::string(c.attribute(a).value()).size();
        bool leaf = !c.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
        if (leaf) {
            std::string text;
            for (pugi::xml_node t = c.first_child(); t; t = t.next_sibling())
                if (t.type() == pugi::node_pcdata || t.type() == pugi::node_cdata)
                    text += t.value();
            total += text.size();
        }
        total += WalkPugi(c);
    }
    return total;
}

size_t RunPugi(const std::string& text) {
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size());
    return WalkPugi(doc);
}
#endif

} // namespace

int main(int argc, char** argv) {
    // Freed memory stays with the allocator for the next round, as it does in a long-running
    // program. Left to its defaults, glibc hands the top of the heap back to the system whenever
    // nothing happens to lie above it, and the first-touch page faults of whichever side's
    // memory went back decide the figure rather than either engine.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    const std::string text = MakeBooklist(5 * 1024 * 1024);

    if (argc == 3) {
        const int rounds = std::atoi(argv[2]);
        size_t total = 0;
        bool known = std::strcmp(argv[1], "ours") == 0;
        for (int r = 0; known && r < rounds; ++r)
            total += RunOurs(text);
#ifdef HAVE_PUGIXML
        if (std::strcmp(argv[1], "pugixml") == 0) {
            known = true;
            for (int r = 0; r < rounds; ++r)
                total += RunPugi(text);
        }
#endif
        if (!known) {
            std::fprintf(stderr, "usage: xml_bench [ours|pugixml rounds]\n");
            return 2;
        }
        std::printf("xml_bench: %s, %d rounds, %zu value bytes\n", argv[1], rounds, total);
        return 0;
    }

    // What each side holds once the text is parsed: the part of its speed that is memory traffic.
    const size_t heapBefore = mallinfo2().uordblks;
    size_t oursHeld = 0;
    {
        CXmlDocument doc;
        doc.SetDocText(text.c_str());
        oursHeld = mallinfo2().uordblks - heapBefore;
    }
#ifdef HAVE_PUGIXML
    size_t pugiHeld = 0;
    {
        pugi::xml_document doc;
        doc.load_buffer(text.data(), text.size());
        pugiHeld = mallinfo2().uordblks - heapBefore;
    }
#endif

    // The two runs alternate, so that a busy machine slows both alike; each round gives a ratio,
    // and the median of those is the figure.
    const int rounds = 41;
    size_t ours = 0;
    std::vector<double> tOurs;
#ifdef HAVE_PUGIXML
    size_t theirs = 0;
    std::vector<double> tPugi, ratios;
#endif
    for (int r = 0; r < rounds; ++r) {
        double a = Seconds([&] { ours = RunOurs(text); });
        tOurs.push_back(a);
#ifdef HAVE_PUGIXML
        double b = Seconds([&] { theirs = RunPugi(text); });
        tPugi.push_back(b);
        ratios.push_back(a / b);
#endif
    }
    std::printf(
        "xml_bench: %zu bytes; CXmlDocument parse+walk %.1f ms median, %.1f ms best (%zu value bytes)\n",
        text.size(), Median(tOurs) * 1000, *std::min_element(tOurs.begin(), tOurs.end()) * 1000, ours);
#ifdef HAVE_PUGIXML
    std::printf("xml_bench: pugixml parse+walk %.1f ms median, %.1f ms best (%zu value bytes)\n",
                Median(tPugi) * 1000, *std::min_element(tPugi.begin(), tPugi.end()) * 1000, theirs);
    std::printf("xml_bench: held after the parse: CXmlDocument %.1f MB, pugixml %.1f MB\n",
                oursHeld / 1048576.0, pugiHeld / 1048576.0);
    if (ours != theirs)
        std::printf("xml_bench: the two walks read different amounts; the ratio compares unlike work\n");
    std::printf("xml_bench: parse+walk of a %.1f MB booklist, ratio to pugixml %.2f (median of %d rounds; "
                "best against best %.2f)\n",
                text.size() / (1024.0 * 1024.0), Median(ratios), rounds,
                *std::min_element(tOurs.begin(), tOurs.end()) /
                    *std::min_element(tPugi.begin(), tPugi.end()));
#else
    std::printf("xml_bench: held after the parse: CXmlDocument %.1f MB\n", oursHeld / 1048576.0);
    std::printf("xml_bench: pugixml not found; no ratio\n");
#endif
    return 0;
}
