// An HTTP answer as raw bytes, split into its status line, headers and body for assertions.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct HttpAnswer {
    std::string raw;
    std::string statusLine;
    std::vector<std::pair<std::string, std::string>> headers; // in the order sent
    std::string body;

    // The value of the first header of that name, spelled exactly; "<absent>" when none is sent.
    std::string Header(const std::string& name) const {
        for (const auto& [n, v] : headers)
            if (n == name)
                return v;
        return "<absent>";
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> v;
        for (const auto& h : headers)
            v.push_back(h.first);
        return v;
    }

    static HttpAnswer Parse(const std::string& raw) {
        HttpAnswer r;
        r.raw = raw;
        size_t end = raw.find("\r\n\r\n");
        std::string head = raw.substr(0, end);
        r.body = end == std::string::npos ? "" : raw.substr(end + 4);
        size_t lineEnd = head.find("\r\n");
        r.statusLine = head.substr(0, lineEnd);
        size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
        while (pos < head.size()) {
            size_t e = head.find("\r\n", pos);
            if (e == std::string::npos)
                e = head.size();
            std::string line = head.substr(pos, e - pos);
            size_t colon = line.find(": ");
            if (colon != std::string::npos)
                r.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
            pos = e + 2;
        }
        return r;
    }
};
