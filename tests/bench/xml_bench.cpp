// Parses a booklist-like document of about 5 MB and walks every element and attribute, reading
// each attribute value and each leaf's text; pugixml does the same walk on the same bytes.
#include "xml/XmlDocument.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
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

double Seconds(const std::function<void()>& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
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
#endif

} // namespace

int main() {
    const std::string text = MakeBooklist(5 * 1024 * 1024);
    // The two runs alternate, so that a busy machine slows both alike; the best of each counts.
    const int reps = 21;
    size_t ours = 0;
    double tOurs = 1e9;
    auto runOurs = [&] {
        CXmlDocument doc;
        doc.SetDocText(text.c_str());
        ours = WalkOurs(doc);
    };
#ifdef HAVE_PUGIXML
    size_t theirs = 0;
    double tPugi = 1e9;
    auto runPugi = [&] {
        pugi::xml_document doc;
        doc.load_buffer(text.data(), text.size());
        theirs = WalkPugi(doc);
    };
#endif
    for (int r = 0; r < reps; ++r) {
        tOurs = std::min(tOurs, Seconds(runOurs));
#ifdef HAVE_PUGIXML
        tPugi = std::min(tPugi, Seconds(runPugi));
#endif
    }
    std::printf("xml_bench: %zu bytes; CXmlDocument parse+walk %.1f ms (%zu value bytes)\n", text.size(),
                tOurs * 1000, ours);
#ifdef HAVE_PUGIXML
    std::printf("xml_bench: pugixml parse+walk %.1f ms (%zu value bytes)\n", tPugi * 1000, theirs);
    std::printf("xml_bench: ratio CXmlDocument / pugixml = %.2f\n", tOurs / tPugi);
#else
    std::printf("xml_bench: pugixml not found; no ratio\n");
#endif
    return 0;
}
