#include "tests/support/PdfBuilder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace vtest {
namespace {

// One cross-reference row, as in an xref stream.
struct Row {
    int type;         // 0 free, 1 in the file, 2 inside an object stream
    std::uint64_t f2; // offset, or object stream number
    std::uint64_t f3; // generation, or index inside the object stream
};

using Listing = std::vector<std::pair<int, Row>>;

std::string zeroPad(std::uint64_t v, std::size_t width) {
    std::string s = std::to_string(v);
    return s.size() < width ? std::string(width - s.size(), '0') + s : s;
}

std::string deflate(const std::string& in) {
    uLongf len = compressBound(static_cast<uLong>(in.size()));
    std::string out(len, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(in.data()),
                  static_cast<uLong>(in.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib compress2 failed");
    out.resize(len);
    return out;
}

std::string streamBody(const std::string& dictEntries, const std::string& data, bool flate) {
    const std::string payload = flate ? deflate(data) : data;
    std::string s = "<< /Length " + std::to_string(payload.size());
    if (flate)
        s += " /Filter /FlateDecode";
    if (!dictEntries.empty())
        s += " " + dictEntries;
    return s + " >>\nstream\n" + payload + "\nendstream";
}

std::string objectText(int num, int gen, const std::string& body) {
    return std::to_string(num) + " " + std::to_string(gen) + " obj\n" + body + "\nendobj\n";
}

// Runs of consecutive numbers as (first, count) pairs.
std::vector<std::pair<int, int>> runsOf(const Listing& rows) {
    std::vector<std::pair<int, int>> runs;
    for (const auto& row : rows) {
        if (!runs.empty() && runs.back().first + runs.back().second == row.first)
            ++runs.back().second;
        else
            runs.push_back({row.first, 1});
    }
    return runs;
}

std::string paddingText(std::size_t bytes) {
    std::string s;
    while (bytes - s.size() >= 2) {
        const std::size_t len = std::min<std::size_t>(64, bytes - s.size());
        s += '%';
        s.append(len - 2, '.');
        s += '\n';
    }
    if (s.size() < bytes)
        s += '\n';
    return s;
}

std::uint64_t maxFor(int width) {
    return width >= 8 ? UINT64_MAX : (std::uint64_t{1} << (8 * width)) - 1;
}

void putField(std::string& out, std::uint64_t value, int width) {
    if (value > maxFor(width))
        throw std::logic_error("xref value " + std::to_string(value) + " doesn't fit in " +
                               std::to_string(width) + " byte(s)");
    for (int i = width - 1; i >= 0; --i)
        out += static_cast<char>(i >= 8 ? 0 : (value >> (8 * i)) & 0xFF);
}

std::string xrefStreamBody(const Listing& rows, const std::string& keys, const XrefStreamOptions& o,
                           bool withIndex) {
    std::string data;
    for (const auto& [num, row] : rows) {
        if (o.w0 == 0 && row.type != 1)
            throw std::logic_error("/W without a type field, but object " + std::to_string(num) +
                                   " isn't a type 1 row");
        if (o.w0 > 0)
            putField(data, static_cast<std::uint64_t>(row.type), o.w0);
        putField(data, row.f2, o.w1);
        // A free row's generation only matters to writers; clamp it to the field.
        putField(data, row.type == 0 ? std::min(row.f3, maxFor(o.w2)) : row.f3, o.w2);
    }
    const int columns = o.w0 + o.w1 + o.w2;
    if (o.pngUp)
        data = pngUpEncode(data, static_cast<std::size_t>(columns));

    std::string dict = keys + " /W [ " + std::to_string(o.w0) + " " + std::to_string(o.w1) + " " +
                       std::to_string(o.w2) + " ]";
    if (withIndex) {
        dict += " /Index [";
        for (const auto& [first, count] : runsOf(rows))
            dict += " " + std::to_string(first) + " " + std::to_string(count);
        dict += " ]";
    }
    if (o.pngUp) {
        const std::string parms = "<< /Columns " + std::to_string(columns) + " /Predictor 12 >>";
        dict += " /DecodeParms " + parms;
    }
    return streamBody(dict, data, o.flate);
}

std::string classicLine(const Row& row) {
    // Compressed objects look free here so that readers without xref streams
    // skip them; the /XRefStm stream holds their real rows.
    if (row.type == 2)
        return "0000000000 00000 f\r\n";
    return zeroPad(row.f2, 10) + " " + zeroPad(row.f3, 5) + (row.type == 1 ? " n\r\n" : " f\r\n");
}

// Generation a free entry announces: the next one a writer would use.
std::uint64_t nextGen(const std::map<int, Row>& known, int num) {
    auto it = known.find(num);
    if (it == known.end())
        return 0;
    if (it->second.type == 1)
        return std::min<std::uint64_t>(it->second.f3 + 1, 65535);
    return it->second.type == 0 ? it->second.f3 : 1;
}

} // namespace

std::string pngUpEncode(const std::string& data, std::size_t columns) {
    std::string out;
    std::string above(columns, '\0');
    for (std::size_t at = 0; at + columns <= data.size(); at += columns) {
        out += '\x02';
        for (std::size_t i = 0; i < columns; ++i)
            out += static_cast<char>(static_cast<unsigned char>(data[at + i]) -
                                     static_cast<unsigned char>(above[i]));
        above = data.substr(at, columns);
    }
    return out;
}

PdfBuilder::Entry& PdfBuilder::define(int num, int gen) {
    if (num < 1)
        throw std::logic_error("object numbers start at 1");
    if (gen < 0 || gen > 65535)
        throw std::logic_error("generation out of range");
    nextNum_ = std::max(nextNum_, num + 1);
    Entry& e = current().entries[num];
    e = Entry();
    e.gen = gen;
    return e;
}

int PdfBuilder::add(const std::string& body) {
    const int num = reserve();
    set(num, body);
    return num;
}

void PdfBuilder::set(int num, const std::string& body, int gen) {
    Entry& e = define(num, gen);
    e.kind = Kind::Body;
    e.text = body;
}

int PdfBuilder::addStream(const std::string& dictEntries, const std::string& data, bool flate) {
    const int num = reserve();
    setStream(num, dictEntries, data, flate);
    return num;
}

void PdfBuilder::setStream(int num, const std::string& dictEntries, const std::string& data, bool flate, int gen) {
    Entry& e = define(num, gen);
    e.kind = Kind::Body;
    e.stream = true;
    e.text = streamBody(dictEntries, data, flate);
}

void PdfBuilder::setRaw(int num, const std::string& fullObjectText, int gen) {
    Entry& e = define(num, gen);
    e.kind = Kind::Raw;
    e.text = fullObjectText;
}

void PdfBuilder::free(int num) {
    define(num, 0).kind = Kind::Free;
}

int PdfBuilder::addObjectStream(bool flate) {
    const int num = reserve();
    Entry& e = define(num, 0);
    e.kind = Kind::ObjStm;
    e.flate = flate;
    return num;
}

void PdfBuilder::compress(int num, int objStm) {
    auto& entries = current().entries;
    auto container = entries.find(objStm);
    if (container == entries.end() || container->second.kind != Kind::ObjStm)
        throw std::logic_error("object " + std::to_string(objStm) + " isn't an object stream of this revision");
    if (num < 1 || num == objStm)
        throw std::logic_error("bad object number for an object stream");
    for (const auto& [n, e] : entries)
        if (e.kind == Kind::ObjStm && std::count(e.members.begin(), e.members.end(), num))
            throw std::logic_error("object " + std::to_string(num) + " is already compressed");
    entries[num]; // touched in this revision even if set() comes later
    container->second.members.push_back(num);
    nextNum_ = std::max(nextNum_, num + 1);
}

void PdfBuilder::setXref(XrefKind kind, const XrefStreamOptions& o) {
    if (o.w0 < 0 || o.w1 < 0 || o.w2 < 0)
        throw std::logic_error("negative /W width");
    if (o.pngUp && !o.flate)
        throw std::logic_error("a PNG predictor needs the Flate filter");
    current().kind = kind;
    current().opts = o;
}

void PdfBuilder::closeRevision(Revision& rev, int& nextNum) {
    if (rev.kind != XrefKind::Classic)
        rev.xrefNum = nextNum++;
    rev.size = nextNum;
}

void PdfBuilder::beginUpdate() {
    closeRevision(current(), nextNum_);
    Revision next;
    next.root = current().root;
    next.info = current().info;
    next.extra = current().extra;
    revs_.push_back(std::move(next));
}

int PdfBuilder::genOf(int num, std::size_t lastRev) const {
    for (std::size_t r = lastRev + 1; r-- > 0;) {
        auto it = revs_[r].entries.find(num);
        if (it != revs_[r].entries.end())
            return it->second.gen;
    }
    return 0;
}

std::string PdfBuilder::trailerKeys(std::size_t r, const Revision& rev, long prev) const {
    auto ref = [&](int num) { return std::to_string(num) + " " + std::to_string(genOf(num, r)) + " R"; };
    std::string k = "/Size " + std::to_string(rev.size);
    if (rev.root)
        k += " /Root " + ref(rev.root);
    if (rev.info)
        k += " /Info " + ref(rev.info);
    if (prev >= 0)
        k += " /Prev " + std::to_string(prev);
    if (!rev.extra.empty())
        k += " " + rev.extra;
    return k;
}

std::string PdfBuilder::build() const {
    // Close the last revision on a copy so build() stays repeatable.
    std::vector<Revision> revs = revs_;
    int next = nextNum_;
    closeRevision(revs.back(), next);

    std::string out = junk_;
    const std::size_t base = out.size();
    out += "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
    auto pos = [&] { return static_cast<long>(out.size() - base); };

    offsets_.clear();
    std::map<int, Row> known; // newest row per number in the revisions written so far
    long prev = -1;
    for (std::size_t r = 0; r < revs.size(); ++r) {
        const Revision& rev = revs[r];
        std::map<int, Row> packed;
        for (const auto& [num, e] : rev.entries)
            if (e.kind == Kind::ObjStm)
                for (std::size_t i = 0; i < e.members.size(); ++i)
                    packed[e.members[i]] = Row{2, static_cast<std::uint64_t>(num), i};
        if (!packed.empty() && rev.kind == XrefKind::Classic)
            throw std::logic_error("compressed objects need a Stream or Hybrid xref");

        std::map<int, Row> rows; // what this revision's section defines
        for (const auto& [num, e] : rev.entries) {
            if (auto p = packed.find(num); p != packed.end()) {
                if (e.kind != Kind::Body || e.stream || e.gen != 0)
                    throw std::logic_error("object " + std::to_string(num) + " can't go into an object stream");
                rows[num] = p->second;
                offsets_[num] = -1;
                continue;
            }
            if (e.kind == Kind::Pending)
                throw std::logic_error("object " + std::to_string(num) + " is never defined");
            if (e.kind == Kind::Free) {
                rows[num] = Row{0, 0, nextGen(known, num)};
                continue;
            }
            rows[num] = Row{1, static_cast<std::uint64_t>(pos()), static_cast<std::uint64_t>(e.gen)};
            offsets_[num] = pos();
            if (e.kind == Kind::Raw) {
                out += e.text;
                if (e.text.empty() || (e.text.back() != '\n' && e.text.back() != '\r'))
                    out += '\n';
            } else if (e.kind == Kind::Body) {
                out += objectText(num, e.gen, e.text);
            } else {
                std::string head, bodies;
                for (int m : e.members) {
                    if (!head.empty())
                        head += ' ';
                    if (!bodies.empty())
                        bodies += '\n';
                    head += std::to_string(m) + " " + std::to_string(bodies.size());
                    bodies += rev.entries.at(m).text;
                }
                head += '\n';
                const std::string dict = "/First " + std::to_string(head.size()) + " /N " +
                                         std::to_string(e.members.size()) + " /Type /ObjStm";
                out += objectText(num, 0, streamBody(dict, head + bodies, e.flate));
            }
        }
        out += paddingText(rev.padding);

        auto rowFor = [&](int n) {
            if (auto it = rows.find(n); it != rows.end())
                return it->second;
            if (auto it = known.find(n); it != known.end())
                return it->second;
            return n == 0 ? Row{0, 0, 65535} : Row{0, 0, 0};
        };
        // The first section covers every number; later ones only what they touch,
        // unless an xref stream without /Index has to list them all.
        auto listing = [&](bool everything) {
            Listing l;
            if (everything)
                for (int n = 0; n < rev.size; ++n)
                    l.push_back({n, rowFor(n)});
            else
                l.assign(rows.begin(), rows.end());
            return l;
        };
        const std::string keys = trailerKeys(r, rev, prev);

        if (rev.kind == XrefKind::Stream) {
            prev = pos();
            rows[rev.xrefNum] = Row{1, static_cast<std::uint64_t>(prev), 0};
            offsets_[rev.xrefNum] = prev;
            const Listing l = listing(!rev.opts.index);
            out += objectText(rev.xrefNum, 0, xrefStreamBody(l, "/Type /XRef " + keys, rev.opts, rev.opts.index));
        } else {
            std::string xrefStm;
            if (rev.kind == XrefKind::Hybrid) {
                const long at = pos();
                const Listing l(packed.begin(), packed.end());
                const std::string stmKeys = "/Type /XRef /Size " + std::to_string(rev.size);
                out += objectText(rev.xrefNum, 0, xrefStreamBody(l, stmKeys, rev.opts, true));
                rows[rev.xrefNum] = Row{1, static_cast<std::uint64_t>(at), 0};
                offsets_[rev.xrefNum] = at;
                xrefStm = " /XRefStm " + std::to_string(at);
            }
            prev = pos();
            out += "xref\n";
            const Listing l = listing(r == 0);
            for (const auto& [first, count] : runsOf(l)) {
                out += std::to_string(first) + " " + std::to_string(count) + "\n";
                for (int n = first; n < first + count; ++n)
                    out += classicLine(rowFor(n));
            }
            out += "trailer\n<< " + keys + xrefStm + " >>\n";
        }
        out += "startxref\n" + std::to_string(prev) + "\n%%EOF\n";
        for (const auto& [num, row] : rows)
            known[num] = row;
    }
    lastXref_ = prev;
    return out;
}

// Self-contained: the fuzz seeds are built from this file alone.
void PdfBuilder::writeTo(const std::string& path) const {
    const std::string bytes = build();
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("can't write " + path);
}

long PdfBuilder::objectOffset(int num) const {
    auto it = offsets_.find(num);
    return it == offsets_.end() ? -1 : it->second;
}

} // namespace vtest
