#include "Charset.h"
#include "ProtoText.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <mutex>

namespace {

using prototext::Upper;

// MIME charset names that iconv spells differently (or where a superset reads more mail).
std::string IconvName(std::string_view charset) {
    std::string u = Upper(std::string(charset));
    // Language suffix of RFC 2231 ("UTF-8*en") is not part of the name.
    if (auto star = u.find('*'); star != std::string::npos) u.resize(star);
    if (u == "CSEUCKR" || u == "KS_C_5601-1987" || u == "KSC5601") return "CP949";
    if (u == "EUC-KR") return "CP949";
    if (u == "GB2312" || u == "GBK" || u == "CSGB2312" || u == "X-GBK") return "GB18030";
    if (u == "BIG5" || u == "CSBIG5" || u == "X-X-BIG5") return "BIG5-HKSCS";
    if (u == "LATIN1" || u == "L1" || u == "ISO_8859-1" || u == "ISO8859-1") return "ISO-8859-1";
    if (u == "UTF8") return "UTF-8";
    if (u == "SHIFT-JIS" || u == "SJIS" || u == "X-SJIS") return "SHIFT_JIS";
    return u;
}

bool IsUtf8Name(const std::string& u) { return u == "UTF-8" || u == "UTF8"; }
bool IsAsciiName(const std::string& u) {
    return u == "US-ASCII" || u == "ASCII" || u == "ANSI_X3.4-1968" || u == "CSASCII" || u == "US";
}

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::mutex gCodesetMutex;
std::string gCodeset;  // empty: from the environment's locale
bool gCodesetSet = false;

std::string EnvironmentCodeset() {
    // Ask for the user's locale without touching the global one (which would change the
    // decimal separator and more for the rest of the program).
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return "UTF-8";
    std::string cs = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    return cs;
}

}  // namespace

bool ConvertCharset(std::string_view fromCharset, std::string_view toCharset, std::string_view in,
                    std::string& out) {
    // Reading: a superset of the source charset reads more of the mail that is out there.
    // Writing: the exact charset named in the header, so the label matches the bytes.
    const std::string from = IconvName(fromCharset);
    std::string to = Upper(std::string(toCharset));
    if (to == "CSEUCKR") to = "EUC-KR";
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string result(in.size() * 2 + 16, '\0');
    char* inp = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outp = result.data();
    std::size_t outLeft = result.size();
    auto grow = [&] {
        const std::size_t used = static_cast<std::size_t>(outp - result.data());
        result.resize(result.size() * 2);
        outp = result.data() + used;
        outLeft = result.size() - used;
    };
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) {
            grow();
            continue;
        }
        ok = false;  // EILSEQ / EINVAL: invalid input, or a character the target lacks
        break;
    }
    // Return to the initial shift state (ISO-2022-JP ends in ASCII).
    while (ok && iconv(cd, nullptr, nullptr, &outp, &outLeft) == static_cast<std::size_t>(-1)) {
        if (errno != E2BIG) {
            ok = false;
            break;
        }
        grow();
    }
    iconv_close(cd);
    if (!ok) return false;
    result.resize(static_cast<std::size_t>(outp - result.data()));
    out = std::move(result);
    return true;
}

std::string CharsetToUtf8(std::string_view charset, std::string_view bytes) {
    const std::string u = IconvName(charset);
    if (u.empty() || IsUtf8Name(u) || IsAsciiName(u)) return std::string(bytes);
    // Plain ASCII reads the same in every charset except the stateful/7-bit ones.
    if (IsAscii(bytes) && u != "ISO-2022-JP" && u != "UTF-7" && u.rfind("UTF-16", 0) != 0 &&
        u.rfind("UTF-32", 0) != 0 && u.rfind("ISO-2022", 0) != 0)
        return std::string(bytes);
    std::string out;
    if (ConvertCharset(u, "UTF-8", bytes, out)) return out;
    return std::string(bytes);
}

THeaderCharset HeaderCharsetForCodeset(std::string_view codeset) {
    const std::string u = Upper(std::string(codeset));
    if (u == "GB2312" || u == "GBK" || u == "GB18030" || u == "EUC-CN") return {"GB2312", 'B'};
    if (u == "BIG5" || u == "BIG5-HKSCS") return {"Big5", 'B'};
    if (u == "EUC-JP" || u == "SHIFT_JIS" || u == "SJIS" || u == "SHIFT-JIS") return {"ISO-2022-JP", 'B'};
    if (u == "EUC-KR" || u == "CP949") return {"csEUCKR", 'B'};
    if (u == "KOI8-R") return {"KOI8-R", 'B'};
    if (u == "KOI8-U" || u == "CP1251" || u == "WINDOWS-1251") return {"windows-1251", 'B'};
    if (u == "ISO-8859-1" || u == "ISO-8859-15" || u == "CP1252" || u == "WINDOWS-1252")
        return {"ISO-8859-1", 'Q'};
    return {"UTF-8", 'Q'};
}

void SetHeaderCodeset(const std::string& codeset) {
    std::lock_guard<std::mutex> lock(gCodesetMutex);
    gCodeset = codeset;
    gCodesetSet = !codeset.empty();
}

THeaderCharset CurrentHeaderCharset() {
    std::string cs;
    {
        std::lock_guard<std::mutex> lock(gCodesetMutex);
        if (!gCodesetSet) {
            gCodeset = EnvironmentCodeset();
            gCodesetSet = true;
        }
        cs = gCodeset;
    }
    return HeaderCharsetForCodeset(cs);
}
