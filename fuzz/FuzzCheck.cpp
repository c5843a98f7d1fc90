#include "fuzz/FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzcheck {
namespace {

void PrintAndAbort(const char* file, int line, const std::string& message) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, message.c_str());
    std::abort();
}

FailureHandler g_handler = PrintAndAbort;

void AppendEscaped(std::string& out, unsigned long c) {
    if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
        out += static_cast<char>(c);
    } else {
        char escape[16];
        std::snprintf(escape, sizeof escape, c <= 0xff ? "\\x%02lx" : "\\u%04lx", c);
        out += escape;
    }
}

}  // namespace

void SetFailureHandler(FailureHandler handler) {
    g_handler = handler != nullptr ? handler : PrintAndAbort;
}

void Fail(const char* file, int line, const std::string& message) { g_handler(file, line, message); }

std::string Quoted(const char* text, size_t size) {
    std::string out = "\"";
    for (size_t i = 0; i < size; ++i) AppendEscaped(out, static_cast<unsigned char>(text[i]));
    return out + "\"";
}

std::string Quoted(const std::wstring& text) {
    std::string out = "L\"";
    for (const wchar_t c : text) AppendEscaped(out, static_cast<unsigned long>(c));
    return out + "\"";
}

}  // namespace fuzzcheck
