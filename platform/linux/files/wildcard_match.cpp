// DOS-style wildcard matching.
#include "platform/linux/files/wildcard_match.h"

#include <cwctype>

namespace pellatrix::linuxos {
namespace {

char16_t fold(char16_t c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;
    if (c >= 0xD800 && c <= 0xDFFF)
        return c; // surrogates and escaped bytes compare exactly
    return static_cast<char16_t>(std::towupper(static_cast<wint_t>(c)));
}

// Iterative glob with single-star backtracking: linear in practice, never exponential.
bool globMatch(const char16_t* p, const char16_t* pEnd, const char16_t* n, const char16_t* nEnd) {
    const char16_t* starP = nullptr;
    const char16_t* starN = nullptr;
    while (n != nEnd) {
        if (p != pEnd && *p == u'*') {
            starP = ++p;
            starN = n;
        } else if (p != pEnd && (*p == u'?' || fold(*p) == fold(*n))) {
            ++p;
            ++n;
        } else if (starP) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p != pEnd && *p == u'*')
        ++p;
    return p == pEnd;
}

bool globMatch(const Text& pattern, const Text& name) {
    return globMatch(pattern.data(), pattern.data() + pattern.size(), name.data(),
                     name.data() + name.size());
}

} // namespace

bool hasWildcards(const Text& pattern) {
    return pattern.find_first_of(u"*?") != Text::npos;
}

bool matchesWildcard(const Text& pattern, const Text& name) {
    if (pattern == u"*.*" || pattern == u"*")
        return true; // every name, dotless ones too: the pattern of every walk and copy
    if (globMatch(pattern, name))
        return true;
    return pattern.size() >= 2 && pattern.ends_with(u".*") && name.find(u'.') == Text::npos &&
           globMatch(pattern.substr(0, pattern.size() - 2), name);
}

} // namespace pellatrix::linuxos
