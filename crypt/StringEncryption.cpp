#include "crypt/StringEncryption.h"

#include <algorithm>

#include "crypt/CSecurityHandler.h"
#include "pdf/CPdfLexer.h"
#include "pdf/CPdfMemoryStream.h"
#include "pdf/CPdfObject.h"

std::string encryptObjectStrings(std::string_view text, const CSecurityHandler& security, int num)
{
    static const char kDigits[] = "0123456789ABCDEF";
    CPdfLexer lexer(new CPdfMemoryStream(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    lexer.setKeepStringBytes(true); // a NUL byte is part of the string
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    size_t copied = 0;
    CPdfObject token;
    for (;;) {
        lexer.readToken(token);
        if (token.type() == PDF_EOF || lexer.tokenEnd() <= lexer.tokenBegin())
            break;
        if (token.type() != PDF_STRING)
            continue;
        const size_t begin = static_cast<size_t>(lexer.tokenBegin());
        out.append(text.substr(copied, begin - copied));
        const std::string encrypted = security.encryptString(num, 0, token.textString());
        out += '<';
        for (unsigned char c : encrypted) {
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
        out += '>';
        copied = static_cast<size_t>(lexer.tokenEnd());
    }
    out.append(text.substr(std::min(copied, text.size())));
    return out;
}
