#pragma once

#include <cstdint>
#include <string>

#include "crypt/CSecurityHandler.h"
#include "pdf/CPdfRefPtr.h"

class CPdfObject;
class CPdfStream;

// The stream to read a stream object's data from: `raw` itself when the
// dictionary names no filter, the chain of decoders its /Filter names (each
// with its item of /DecodeParms), or nullptr when a filter is not supported
// (the caller then still owns `raw`). A decoder takes over the caller's
// reference to `raw`.
CPdfStream* attachFilters(CPdfStream* raw, const CPdfObject& dict);

// A new decoder over `source` for the filter `name` (Flate, LZW, ASCII85,
// ASCIIHex or RunLength, full or abbreviated) with the decode parameters
// `parms`, followed by the row predictor they name (Flate and LZW), or
// nullptr for any other filter or for predictor parameters that make no
// usable row.
CPdfStream* createDecoder(const std::string& name, CPdfStream* source, const CPdfObject& parms);

// The data of stream object `object` (number `num`, generation `gen`) of an
// encrypted document whose bytes `file` reads: its raw bytes decrypted with
// `method`, then its filters, since encryption covers the data as it is
// stored. Null when the raw data is empty or longer than `maxRawBytes`,
// cannot be read, or names a filter that is not supported.
CPdfRefPtr<CPdfStream> decryptedStreamData(CPdfStream& file, const CSecurityHandler& security,
                                           CSecurityHandler::EMethod method, int num, int gen,
                                           const CPdfObject& object, int64_t maxRawBytes);
