#pragma once

#include <cstdlib>
#include <string>

#include "crypt/CSecurityHandler.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObject.h"
#include "pdf/CPdfResolver.h"

// Runs the security handler on a fuzzed document's /Encrypt dictionary and
// first /ID string: key derivation whatever the values, and when the empty
// password opens it, each method must give back what it encrypted, for
// object numbers and generations at both ends of their range. A refusal is
// fine; a crash, a sanitizer report or a failed round trip is a finding.
inline void fuzzSecurityHandler(CPdfResolver& table, const CPdfObject& trailer)
{
    if (trailer.type() != PDF_DICT)
        return;
    try {
        CPdfObject encryptRef, encrypt, ids, firstId;
        trailer.dictValue()->getValueUnresolved("Encrypt", encryptRef);
        encryptRef.resolve(&table, encrypt);
        trailer.dictValue()->getValue("ID", ids);
        if (ids.type() == PDF_ARRAY && ids.arrayValue()->count() > 0)
            ids.arrayValue()->getItem(0, firstId);
        const CSecurityHandler handler(encrypt, firstId.type() == PDF_STRING ? firstId.textString() : std::string());
        handler.streamMethodFor(encrypt); // an arbitrary dictionary as a stream's
        if (!handler.opensWithoutPassword())
            return;
        using EMethod = CSecurityHandler::EMethod;
        const std::string samples[] = {std::string(), std::string("x"), std::string(33, '\xA5')};
        for (EMethod method : {handler.stringMethod(), handler.streamMethod(), EMethod::Identity}) {
            for (int num : {0, 1, 0x7FFFFFFF}) {
                for (const std::string& sample : samples) {
                    if (handler.decrypt(method, num, 65535, handler.encrypt(method, num, 65535, sample)) != sample)
                        std::abort();
                }
                // Data of any length, cut IVs and blocks included, must decrypt without harm.
                const std::string junk(48, '\x10');
                for (size_t length : {1, 15, 16, 17, 31, 32, 47})
                    (void)handler.decrypt(method, num, 0, junk.substr(0, length));
            }
        }
    } catch (const CPdfException&) {
    }
}
