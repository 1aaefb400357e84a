#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// Builds PDF files with a chosen structure (classic tables, xref streams,
// object streams, incremental updates, odd prefixes) so the reader's loading
// paths are tested on real bytes. Test-only code: misuse throws
// std::logic_error rather than producing a silently broken file.
namespace vtest {

enum class XrefKind {
    Classic, // "xref" table + "trailer"
    Stream,  // /Type /XRef stream carrying the trailer keys
    Hybrid   // classic table whose trailer has /XRefStm to a stream listing the compressed objects
};

struct XrefStreamOptions {
    int w0 = 1, w1 = 4, w2 = 2; // byte widths of the three row fields (/W); w0 = 0 only when every row is type 1
    bool flate = true;          // /Filter /FlateDecode on the xref stream
    bool pngUp = false;         // /DecodeParms << /Predictor 12 /Columns (w0+w1+w2) >>; needs flate
    bool index = false;         // /Index with only the numbers this section defines; otherwise 0..Size-1
                                // (Hybrid's /XRefStm stream always uses /Index)
};

// `data`, whole rows of `columns` bytes, PNG-predicted as /Predictor 12
// reads it: each row tag 2 (Up), then its bytes minus those of the row above.
std::string pngUpEncode(const std::string& data, std::size_t columns);

class PdfBuilder {
public:
    // Object numbers are handed out 1, 2, 3, ...; 0 is the free-list head.
    int reserve() { return nextNum_++; }                     // to define later with set()/setStream()
    int add(const std::string& body);                        // body = text between "N G obj\n" and "\nendobj"
    void set(int num, const std::string& body, int gen = 0); // define, or redefine in a later revision
    // "<< /Length n [/Filter /FlateDecode] dictEntries >>\nstream\n" + data + "\nendstream";
    // data is zlib-compressed first when flate.
    int addStream(const std::string& dictEntries, const std::string& data, bool flate = false);
    void setStream(int num, const std::string& dictEntries, const std::string& data, bool flate = false,
                   int gen = 0);
    // Written byte for byte at the object's offset (a newline is added when it
    // doesn't end with one). For hostile objects such as a wrong /Length.
    void setRaw(int num, const std::string& fullObjectText, int gen = 0);
    void free(int num); // free entry in the current revision; its generation is the last one + 1

    // Object streams: the container is written in the current revision; members
    // must be defined in the same revision with set()/add() (no streams, gen 0),
    // and the revision's xref must be Stream or Hybrid.
    int addObjectStream(bool flate = true);
    void compress(int num, int objStm); // call order = index order inside objStm

    // Trailer settings carry over into later revisions until changed.
    void setRoot(int num) { current().root = num; }
    void setInfo(int num) { current().info = num; }
    void setTrailerExtra(const std::string& entries) { current().extra = entries; } // e.g. "/Encrypt 9 0 R"

    // For the current revision. Stream and Hybrid get an automatic object
    // number for the xref stream, taken when the revision is closed.
    void setXref(XrefKind kind, const XrefStreamOptions& o = {});
    // Comment block of about this size after the revision's last object, before its xref.
    void setPadding(std::size_t bytes) { current().padding = bytes; }

    void setJunkPrefix(const std::string& bytes) { junk_ = bytes; } // before "%PDF-"; offsets skip it

    void beginUpdate(); // start a new revision, appended as an incremental update with /Prev

    // Deterministic: the same calls give the same bytes.
    std::string build() const;
    void writeTo(const std::string& path) const;

    // After build(); offsets are counted from the first byte of the header.
    long objectOffset(int num) const;                 // newest definition written; -1 if compressed or never written
    long lastXrefOffset() const { return lastXref_; } // the value after the final "startxref"

private:
    enum class Kind { Pending, Body, Raw, Free, ObjStm };
    struct Entry {
        Kind kind = Kind::Pending; // Pending: compressed before being defined
        std::string text;          // body, or full object text for Raw
        int gen = 0;
        bool stream = false;       // body holds a stream, so it can't go into an object stream
        bool flate = false;        // ObjStm: compress the container
        std::vector<int> members;  // ObjStm: member numbers in index order
    };
    struct Revision {
        std::map<int, Entry> entries; // everything defined, redefined or freed here
        XrefKind kind = XrefKind::Classic;
        XrefStreamOptions opts;
        std::size_t padding = 0;
        int root = 0, info = 0;
        std::string extra;
        int xrefNum = 0; // xref stream object (Stream/Hybrid), set when the revision closes
        int size = 0;    // /Size, set when the revision closes
    };
    Revision& current() { return revs_.back(); }
    Entry& define(int num, int gen);
    static void closeRevision(Revision& rev, int& nextNum);
    int genOf(int num, std::size_t lastRev) const;
    std::string trailerKeys(std::size_t r, const Revision& rev, long prev) const;

    std::vector<Revision> revs_ = std::vector<Revision>(1); // the first revision is always open
    int nextNum_ = 1;
    std::string junk_;
    mutable std::map<int, long> offsets_; // filled by build()
    mutable long lastXref_ = -1;
};

} // namespace vtest
