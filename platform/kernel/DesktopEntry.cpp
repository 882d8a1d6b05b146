#include "platform/kernel/DesktopEntry.h"

std::string AfxDesktopExecQuote(const std::string& arg) {
    std::string quoted = "\"";
    for (char ch : arg) {
        if (ch == '"' || ch == '`' || ch == '$' || ch == '\\')
            quoted += '\\';
        quoted += ch;
    }
    quoted += '"';
    std::string escaped;
    for (char ch : quoted) {
        if (ch == '\\' || ch == '%')
            escaped += ch;
        escaped += ch;
    }
    return escaped;
}

std::string AfxDesktopValue(const std::string& value) {
    std::string out;
    for (char ch : value) {
        if (ch == '\\')
            out += "\\\\";
        else if (ch == '\n')
            out += "\\n";
        else if (ch == '\r')
            out += "\\r";
        else
            out += ch;
    }
    return out;
}
