// The documents the end-to-end rows name, and the damage and other edits real files show.

#include <zlib.h>

#include <functional>
#include <map>
#include <stdexcept>

#include "tests/app/E2e.h"
#include "tests/support/PdfBuilder.h"

namespace e2e {
namespace {

const render::Box kLetter{0, 0, 612, 792};

BuiltDoc letters(const std::string& bytes, int pages)
{
    BuiltDoc doc{bytes, std::vector<render::View>(static_cast<size_t>(pages), render::View{kLetter, 0}), {}, {}};
    doc.media = doc.trim = std::vector<render::Box>(static_cast<size_t>(pages), kLetter);
    return doc;
}

// Seven pages that between them take every path of the page rewrite (the
// last two take resources and rotation from the tree, if it has any), in a
// tree that varies resources, rotation, crop box and depth.
DocPlan kinds(Layout layout, NodeResources resources, int rotate, bool crop, bool intermediate, int rootGen = 0,
              int infoGen = 0)
{
    // rotate, resources, contents, subDictionariesByReference, flate, crop, cropByReference, trim, media
    const std::vector<PagePlan> pages = {
        {0, Resources::Inline, Contents::Stream, false, false, render::Box{20, 30, 590, 770}},
        {90, Resources::Indirect, Contents::Array},
        {180, Resources::Inline, Contents::ArrayRef, true, true},
        {270, Resources::Indirect, Contents::Stream, true, false, render::Box{40, 40, 560, 700}, true},
        {-1, Resources::Bare, Contents::None},
        {-1, Resources::None, Contents::Stream, false, true},
        {-1, Resources::None, Contents::Array, false, false, {}, false, {}, std::nullopt}};
    const std::optional<render::Box> nodeCrop = crop ? std::optional(render::Box{10, 12, 600, 780}) : std::nullopt;
    return DocPlan{pages, layout, kLetter, nodeCrop, rotate, resources, intermediate, rootGen, std::max(infoGen, 0),
                   infoGen >= 0};
}

// /Rotate 0, 90, 180, 270 in the page, then 90 from the tree, each page with `crop`.
DocPlan turnedPages(const render::Box& crop)
{
    DocPlan plan;
    plan.nodeRotate = 90;
    for (int rotate : {0, 90, 180, 270, -1})
        plan.pages.push_back({rotate, Resources::Inline, Contents::Stream, false, false, crop});
    return plan;
}

DocPlan inheritingOnly(NodeResources resources)
{
    DocPlan plan;
    plan.nodeResources = resources;
    for (int rotate : {0, 90})
        plan.pages.push_back({rotate, Resources::None, Contents::Stream});
    return plan;
}

// Catalog 1, root node 2, pages 3..5 with contents 6..8 (a line of text each)
// and one font 9; `titled` adds a metadata stream 10, a titled /Info 11 and
// a string in each page, `pageEntries` more entries of each page.
vtest::PdfBuilder threePages(bool titled, const std::string& pageEntries = "")
{
    vtest::PdfBuilder b;
    b.set(1, std::string("<< /Type /Catalog /Pages 2 0 R ") + (titled ? "/Metadata 10 0 R " : "") + ">>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    for (int page = 0; page < 3; ++page) {
        const std::string label = titled ? " /PageLabel (page " + std::to_string(page + 1) + ")" : "";
        b.set(3 + page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(6 + page) +
                            " 0 R /Resources << /Font << /F1 9 0 R >> >>" + label + pageEntries + " >>");
        b.setStream(6 + page, "", "BT\n/F1 24 Tf 200 400 Td\n(Text of page " + std::to_string(page + 1) + ") Tj\nET\n");
    }
    b.set(9, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    if (titled) {
        b.setStream(10, "/Type /Metadata /Subtype /XML", "<?xpacket begin=''?><x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
        b.set(11, "<< /Title (Protected \\(title\\)) /Producer <4275696C646572> >>");
        b.setInfo(11);
    }
    b.setRoot(1);
    return b;
}

vtest::PdfBuilder withObjectStreams(vtest::PdfBuilder b)
{
    const int container = b.addObjectStream();
    for (int num : {1, 2, 3, 4, 5, 9})
        b.compress(num, container);
    b.setXref(vtest::XrefKind::Stream);
    return b;
}

// Catalog 1 (with `catalog` added), node 2 and page 3 (with `page` added); the caller adds the rest.
vtest::PdfBuilder onePage(const std::string& catalog, const std::string& page)
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R " + catalog + " >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page + " >>");
    b.setRoot(1);
    return b;
}
const std::string kGrey = "0.6 g 150 200 200 150 re f\n";

// `b` as `edit` leaves it, one letter-size page.
template <class Edit>
BuiltDoc onePageEdited(vtest::PdfBuilder b, Edit edit)
{
    edit(b);
    return letters(b.build(), 1);
}

DocPlan withPages(std::vector<PagePlan> pages, bool tagged = false)
{
    DocPlan plan;
    plan.pages = std::move(pages);
    plan.tagged = tagged;
    return plan;
}

// A 96 x 48 stamp page (`page` may replace its media box) drawing `content`
// with `resources` (object 5), `more` adding objects from 6 on.
const std::string kBands = "1 0 0 rg 0 0 48 48 re f 0 0 1 rg 48 0 48 48 re f";
template <class More = void (*)(vtest::PdfBuilder&)>
BuiltDoc bandStamp(
    const std::string& page, const std::string& content, const std::string& resources,
    More more = [](vtest::PdfBuilder&) {})
{
    vtest::PdfBuilder b;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R " +
                 std::string(page.find("/MediaBox") == std::string::npos ? "/MediaBox [0 0 96 48] " : "") + page +
                 " /Resources 5 0 R /Contents 4 0 R >>");
    b.setStream(4, "", content);
    b.set(5, resources);
    more(b);
    b.setRoot(1);
    return BuiltDoc{b.build(),
                    {render::View{render::Box{0, 0, 96, 48}, 0}},
                    {render::Box{0, 0, 96, 48}},
                    {render::Box{0, 0, 96, 48}}};
}

using Maker = std::function<BuiltDoc()>;
const std::map<std::string, Maker>& registry()
{
    using B = vtest::PdfBuilder;
    // clang-format off
    static const auto page = [](int rotate, render::Box crop, std::optional<render::Box> trim = std::nullopt) {
        return PagePlan{rotate, Resources::Inline, Contents::Stream, false, false, crop, false, trim};
    };
    // A page drawing its grey square, with object 5 as its resources.
    static const auto plainPage = [](B& b) { b.setStream(4, "", kGrey), b.set(5, "<< >>"); };
    static const std::string kObjects = "/Contents 4 0 R /Resources 5 0 R";
    static const std::map<std::string, Maker> docs = {
        // The generations of /Root and /Info stay in the trailer.
        {"kinds-classic", [] { return buildDoc(kinds(Layout::Classic, NodeResources::Reference, 90, false, false, 3, 2)); }},
        {"kinds-bare", [] { return buildDoc(kinds(Layout::Classic, NodeResources::None, -1, false, false, 2, -1)); }},
        {"kinds-update", [] { return buildDoc(kinds(Layout::Incremental, NodeResources::Inline, 270, false, false, 1, 4)); }},
        {"kinds-xref", [] { return buildDoc(kinds(Layout::XrefStream, NodeResources::None, 180, false, false, 7, 1)); }},
        {"kinds-xrefpng", [] { return buildDoc(kinds(Layout::XrefStreamPng, NodeResources::Reference, 90, true, false)); }},
        {"kinds-objstm", [] { return buildDoc(kinds(Layout::ObjectStreams, NodeResources::Inline, 90, false, true)); }},
        {"kinds-hybrid", [] { return buildDoc(kinds(Layout::Hybrid, NodeResources::Reference, 270, false, false)); }},
        {"kinds-junk", [] { return buildDoc(kinds(Layout::JunkPrefix, NodeResources::Inline, 180, true, false)); }},
        {"inherit-ref", [] { return buildDoc(inheritingOnly(NodeResources::Reference)); }},
        {"inherit-inline", [] { return buildDoc(inheritingOnly(NodeResources::Inline)); }},
        // Crop boxes smaller than the media box and off the origin; square, so that every page shows the same place.
        {"turned", [] { return buildDoc(turnedPages(render::Box{30, 40, 580, 760})); }},
        {"square", [] { return buildDoc(turnedPages(render::Box{6, 96, 606, 696})); }},
        // Page 1 plain; page 2's boxes not on whole points; page 3 without a trim box.
        {"marks", [] { return buildDoc(withPages({page(-1, {36, 36, 576, 756}, render::Box{54, 60, 550, 730}),
                                                  page(90, {40.5, 44.7, 570.2, 750.9}, render::Box{60, 66, 540, 720}),
                                                  page(270, {50, 50, 560, 740}), page(-1, {45, 48, 565, 745}, render::Box{70, 75, 530, 710})})); }},
        // Two pages alike but for their trim boxes.
        {"trims", [] { return buildDoc(withPages({page(-1, {36, 36, 576, 756}, render::Box{54, 60, 550, 730}),
                                                  page(-1, {36, 36, 576, 756}, render::Box{70, 75, 530, 710})})); }},
        {"dry-run", [] { return buildDoc(withPages({PagePlan{}, page(90, {30, 40, 580, 760}), PagePlan{180}, page(270, {10, 20, 500, 700})})); }},
        {"one-turned", [] { return buildDoc(withPages({PagePlan{90}})); }},
        {"tagged", [] { return buildDoc(withPages({PagePlan{}, PagePlan{}}, true)); }},
        // Roman, prefixed decimal, letters from 27 and a prefix alone, in a tree of two kids; prefixes in PDFDocEncoding
        // and in UTF-16 with a surrogate pair.
        {"labels", [] {
             DocPlan plan = plainPlan(8);
             // The second kid, its /Nums and a label in objects of their own, strings written in place in each.
             plan.catalogEntries = "/PageLabels << /Kids [<< /Nums [0 << /S /r >> 2 << /S /D /P (\\344-) >>] >> @0] >>";
             plan.objects = {"<< /Nums @1 >>", "[5 << /S /A /St 27 >> 7 @2]", "<< /P <FEFF00E9006E0064D835DD38> >>"};
             return buildDoc(plan); }},
        {"three", [] { return letters(threePages(false).build(), 3); }},
        {"three-objstm", [] { return letters(withObjectStreams(threePages(false)).build(), 3); }},
        {"three-extra", [] {
             B b = threePages(false);
             b.set(10, "<< /Unused true >>");
             b.set(11, "<< /Unused true >>");
             return letters(b.build(), 3); }},
        {"three-junk", [] {
             B b = threePages(false);
             b.set(10, "<< /Junk (jjjjjjjjjj) >>");
             return letters(b.build(), 3); }},
        {"three-update", [] {
             B b = threePages(false);
             b.beginUpdate();
             b.set(9, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Name /F1 >>");
             return letters(b.build(), 3); }},
        {"titled", [] { return letters(threePages(true).build(), 3); }},
        // The marks stand outside the crop box.
        {"titled-crop", [] {
             BuiltDoc doc = letters(threePages(true, " /CropBox [60 60 552 732]").build(), 3);
             doc.trim = std::vector<render::Box>(3, render::Box{60, 60, 552, 732});
             for (render::View& view : doc.views)
                 view.box = doc.trim[0];
             return doc; }},
        // A user password that the empty one does not open: the dictionary by reference, or written inline.
        {"encrypted", [] { return onePageEdited(onePage("", ""), [](B& b) {
             b.set(4, vtest::passwordEncryptDictionary());
             b.setTrailerExtra("/Encrypt 4 0 R /ID [ <01> <01> ]"); }); }},
        {"encrypted-inline", [] { return onePageEdited(onePage("", ""), [](B& b) {
             b.setTrailerExtra("/Encrypt " + vtest::passwordEncryptDictionary() + " /ID [ <01> <01> ]"); }); }},
        // /Encrypt names no object.
        {"hostile-ref", [] { B b = threePages(false);
             b.setTrailerExtra("/Encrypt 42 0 R /ID [ <01> <01> ]");
             return letters(b.build(), 3); }},
        // A root /Count far beyond the pages.
        {"count-damaged", [] { B b = threePages(false);
             b.set(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 2147483647 >>");
             return letters(b.build(), 3); }},
        // The tree's second kid is free: skipped.
        {"broken-tree", [] { return onePageEdited(B(), [](B& b) {
             b.set(1, "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>");
             b.set(2, "<< /Type /Page /Parent 1 0 R >>");
             b.set(3, "<< /Type /Page /Parent 1 0 R >>");
             b.setRoot(b.add("<< /Type /Catalog /Pages 1 0 R >>"));
             b.free(3); }); }},
        // Nodes that list the next one four times over: found once the output was begun.
        {"endless-tree", [] { return onePageEdited(B(), [](B& b) {
             b.setRoot(b.add("<< /Type /Catalog /Pages 2 0 R >>"));
             for (int node = 2; node < 40; ++node) {
                 const std::string kid = std::to_string(node + 1) + " 0 R ";
                 b.set(node, "<< /Type /Pages /Kids [" + kid + kid + kid + kid + "] >>");
             }
             b.set(40, "<< /Type /Page >>"); }); }},
        // A warning that is no repair: the form asks for updates.
        {"sig-flags", [] { return letters(onePage("/AcroForm << /Fields [] /SigFlags 2 >>", "").build(), 1); }},
        {"fake-certified", [] { return onePageEdited(onePage("/Perms << /DocMDP 4 0 R >>", ""), [](B& b) {
             b.set(4, "<< /Type /Sig /ByteRange [0 10 20 30] /Contents <00> /Reference [<< /TransformMethod /DocMDP "
                      "/TransformParams << /P 1 >> >>] >>"); }); }},
        // Pages written the ways real files write them, where a builder must do more than write the page.
        // A reference to a free object is null.
        {"syntax-resources-freed", [] { return onePageEdited(onePage("", "/Contents [4 0 R] /Resources 5 0 R"), [](B& b) {
             plainPage(b);
             b.beginUpdate();
             b.free(5); }); }},
        {"syntax-no-endobj", [] { return onePageEdited(onePage("", kObjects), [](B& b) {
             plainPage(b);
             b.setRaw(2, "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\n"); }); }},
        // The catalog's /Pages names the page, not its node.
        {"syntax-catalog-names-page", [] { return onePageEdited(onePage("", kObjects), [](B& b) {
             plainPage(b);
             b.set(1, "<< /Type /Catalog /Pages 3 0 R >>");
             b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Rotate 90 >>"); }); }},
        // The page's list of content streams is an object of its own.
        {"syntax-contents-list-object", [] { return onePageEdited(onePage("", kObjects), [](B& b) {
             b.set(4, "[6 0 R]");
             b.set(5, "<< >>");
             b.setStream(6, "", kGrey); }); }},
        // Another tool's layer, the lists of /OCProperties held in objects of their own; layers start hidden.
        {"syntax-layers-by-reference", [] {
             return onePageEdited(onePage("/OCProperties << /OCGs 6 0 R /D << /BaseState /OFF /Order 7 0 R /ON 8 0 R >> >>", kObjects),
                                  [](B& b) {
                                      plainPage(b);
                                      for (int num : {6, 7, 8})
                                          b.set(num, "[9 0 R]");
                                      b.set(9, "<< /Type /OCG /Name (Theirs) >>");
                                  }); }},
        // The first pass of marks closes two states the page leaves open.
        {"state-marks", [] {
             BuiltDoc doc = onePageEdited(onePage("", "/TrimBox [100 100 500 700] /Contents 4 0 R"), [](B& b) {
                 b.setStream(4, "", "q 2 0 0 2 0 0 cm q 1 0 0 1 -100 -100 cm " + kDrawing, true); });
             doc.trim = {render::Box{100, 100, 500, 700}};
             return doc; }},
        // Stamp pages that display red | blue over 96 x 48 points, each drawn another way.
        {"band-vector", [] { return bandStamp("", kBands, "<< >>"); }},
        // Each band in a stream of its own, listed in an array object.
        {"band-split", [] { return bandStamp("", "1 0 0 rg 0 0 48 48 re f", "<< >>", [](B& b) {
             b.setStream(6, "", "0 0 1 rg 48 0 48 48 re f"), b.set(7, "[4 0 R 6 0 R]");
             b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 96 48] /Resources 5 0 R /Contents 7 0 R >>"); }); }},
        {"band-rotated", [] { return bandStamp("/MediaBox [0 0 48 96] /Rotate 90", "1 0 0 rg 0 0 48 48 re f 0 0 1 rg 0 48 48 48 re f", "<< >>"); }},
        // Green outside the crop box: drawn, it would show.
        {"band-cropped", [] { return bandStamp("/MediaBox [0 0 200 200] /CropBox [50 50 146 98]",
             "0 1 0 rg 0 0 200 200 re f 1 0 0 rg 50 50 48 48 re f 0 0 1 rg 98 50 48 48 re f", "<< >>"); }},
        {"band-image", [] { return bandStamp("", "96 0 0 48 0 0 cm /Im0 Do", "<< /XObject << /Im0 6 0 R >> >>", [](B& b) {
             std::string row;
             for (int x = 0; x < 96; ++x)
                 row += x < 48 ? std::string("\xFF\0\0", 3) : std::string("\0\0\xFF", 3);
             std::string pixels;
             for (int y = 0; y < 48; ++y)
                 pixels += row;
             b.setStream(6, "/Type /XObject /Subtype /Image /Width 96 /Height 48 /ColorSpace /DeviceRGB /BitsPerComponent 8", pixels, true); }); }},
        // A shading whose stitched function steps from red to blue halfway.
        {"band-shading", [] { return bandStamp("", "0 0 96 48 re W n /Sh0 sh", "<< /Shading << /Sh0 6 0 R >> >>", [](B& b) {
             b.set(6, "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 96 0] /Function << /FunctionType 3 /Domain [0 1] "
                      "/Functions [7 0 R 8 0 R] /Bounds [0.5] /Encode [0 1 0 1] >> >>");
             b.set(7, "<< /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [1 0 0] /N 1 >>");
             b.set(8, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 1] /C1 [0 0 1] /N 1 >>"); }); }},
        // A Type 3 font whose glyph is a square, its resources the page's own (a cycle), and a string to carry.
        {"band-type3", [] { return bandStamp("", "1 0 0 rg BT /T3 48 Tf 0 0 Td (a) Tj ET 0 0 1 rg BT /T3 48 Tf 48 0 Td (a) Tj ET",
             "<< /Font << /T3 6 0 R >> /Properties << /P0 << /Title (band stamp) >> >> >>", [](B& b) {
             b.set(6, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] /CharProcs << /sq 7 0 R >> "
                      "/Encoding << /Type /Encoding /Differences [97 /sq] >> /FirstChar 97 /LastChar 97 /Widths [1] /Resources 5 0 R >>");
             b.setStream(7, "", "1 0 0 0 1 1 d1 0 0 1 1 re f"); }); }},
        // A second page shows blue | red; the first has annotations, which stay behind.
        {"band-two-pages", [] {
             BuiltDoc doc = bandStamp("/Annots [<< /Subtype /Square /Rect [0 0 9 9] >> << /Subtype /Square /Rect [9 9 19 19] >>]",
                                      kBands, "<< >>", [](B& b) {
                 b.set(2, "<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 2 >>");
                 b.set(6, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 96 48] /Resources 5 0 R /Contents 7 0 R >>");
                 b.setStream(7, "", "0 0 1 rg 0 0 48 48 re f 1 0 0 rg 48 0 48 48 re f"); });
             return doc; }},
        // What PDF/A-1 forbids: a transparency group, a blend mode, a font the viewer supplies.
        {"band-pdfa", [] { return bandStamp("/Group << /S /Transparency /CS /DeviceRGB >>", "/GS0 gs BT /F1 12 Tf 0 0 Td (x) Tj ET " + kBands,
             "<< /ExtGState << /GS0 << /BM /Multiply >> >> /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>"); }},
        {"band-pdfa-descriptor", [] { return bandStamp("", "BT /F1 12 Tf 0 0 Td (x) Tj ET " + kBands, "<< /Font << /F1 << /Type /Font "
             "/Subtype /TrueType /BaseFont /Arial /FirstChar 120 /LastChar 120 /Widths [500] /FontDescriptor << /Type /FontDescriptor "
             "/FontName /Arial,Bold /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 /Ascent 900 /Descent -200 /CapHeight 700 "
             "/StemV 80 >> >> >> >>"); }},
        {"band-no-content", [] { return bandStamp("", "", "<< >>"); }},
        {"band-self-drawing", [] { return bandStamp("", "/Fm0 Do", "<< /XObject << /Fm0 6 0 R >> >>", [](B& b) {
             b.setStream(6, "/Type /XObject /Subtype /Form /BBox [0 0 96 48] /Resources 5 0 R", "/Fm0 Do"); }); }},
        {"band-unreadable", [] { return bandStamp("", kBands, "<< /XObject << /Im0 6 0 R >> >>", [](B& b) {
             b.setRaw(6, "6 0 obj\n" + std::string(300, '[') + "\nendobj\n"); }); }}, // nested past any reader's depth
    };
    // clang-format on
    return docs;
}

// The classic table's entry line for object `num`.
size_t entryAt(const std::string& pdf, int num)
{
    const size_t table = pdf.rfind("\nxref\n") + 1;
    return pdf.find('\n', pdf.find('\n', table) + 1) + 1 + 20 * static_cast<size_t>(num);
}

void shiftEntry(std::string& pdf, int num, long by)
{
    const size_t entry = entryAt(pdf, num);
    const std::string digits = std::to_string(std::stol(pdf.substr(entry, 10)) + by);
    pdf.replace(entry, 10, std::string(10 - digits.size(), '0') + digits);
}

// Object 6's /Length value, or its "endstream", replaced.
std::string withFirstLength(std::string pdf, const std::string& value)
{
    const size_t at = pdf.find("/Length ", pdf.find("\n6 0 obj")) + 8;
    return pdf.replace(at, pdf.find_first_not_of("0123456789", at) - at, value);
}
std::string withFirstEndstream(std::string pdf, const std::string& word)
{
    return pdf.replace(pdf.find("endstream", pdf.find("\n6 0 obj")), word.size(), word);
}

} // namespace

BuiltDoc pageDoc(const std::string& pageEntries)
{
    return onePageEdited(onePage("", pageEntries), [](vtest::PdfBuilder& b) { b.setStream(4, "", kGrey), b.set(5, "<< >>"); });
}

BuiltDoc contentDoc(const std::string& coding, const std::vector<std::string>& streams)
{
    constexpr size_t kColumns = 8; // rows of the predicted coding
    vtest::PdfBuilder b = onePage("", "");
    b.set(4, "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>");
    std::string list;
    for (const std::string& stream : streams) {
        std::string dict, data = stream;
        if (coding == "lzw-predicted") {
            dict = "/Filter /LZWDecode /DecodeParms << /Predictor 12 /Columns " + std::to_string(kColumns) + " >>";
            data = vtest::lzwEncode(vtest::pngUpEncode(data + std::string(kColumns - data.size() % kColumns, ' '), kColumns));
        }
        if (coding == "undecodable" && list.empty())
            dict = "/Filter /VellicoUnknownDecode"; // one viewer skips it, the other reads it raw
        list += " " + std::to_string(b.addStream(dict, data, coding == "flate")) + " 0 R";
    }
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources 4 0 R /Contents" +
                 (streams.size() == 1 ? list : "[" + list + " ]") + " >>");
    return letters(b.build(), 1);
}

BuiltDoc namedDoc(const std::string& name)
{
    const auto found = registry().find(name);
    if (found == registry().end())
        throw std::invalid_argument("no document named " + name);
    return found->second();
}

BuiltDoc pdfaDoc(int part, int intent, bool flate)
{
    DocPlan plan = plainPlan(2);
    if (part > 0)
        plan.xmp = "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
                   "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
                   "xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/'><pdfaid:part>" +
                   std::to_string(part) + "</pdfaid:part></rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";
    plan.metadataFlate = flate;
    plan.outputIntentComponents = intent;
    return buildDoc(plan);
}

std::string edited(std::string pdf, const std::string& how)
{
    if (how == "shift-one") // with startxref right
        shiftEntry(pdf, 6, 3);
    else if (how == "shift-most")
        for (int num = 2; num <= 9; ++num)
            shiftEntry(pdf, num, 2);
    else if (how == "insert-line") // before an object: startxref is wrong too
        pdf.insert(pdf.find("\n7 0 obj") + 1, "% a line an editor added\n");
    else if (how == "no-table")
        pdf = pdf.substr(0, pdf.rfind("\nxref\n") + 1) + "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
    else if (how == "crlf" || how == "crlf-endstream-missing") {
        std::string converted;
        for (char c : pdf)
            converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
        pdf = how == "crlf" ? converted : withFirstEndstream(converted, "         ");
    } else if (how == "length-short")
        pdf = withFirstLength(pdf, "20");
    else if (how == "length-long")
        pdf = withFirstLength(pdf, "99");
    else if (how == "length-ref") // longer: later offsets move
        pdf = withFirstLength(pdf, "77 0 R");
    else if (how == "endstream-misspelt")
        pdf = withFirstEndstream(pdf, "enxstream");
    else if (how == "endstream-missing")
        pdf = withFirstEndstream(pdf, "         ");
    else if (how == "object-10-gone")
        pdf.replace(pdf.find("10 0 obj"), 8, "% gone  ");
    else if (how == "objects-gone-into-header") // their entries the lowest, at the header's second line
        for (const char* object : {"10 0 obj", "11 0 obj"}) {
            pdf.replace(pdf.find(object), 8, "% gone  ");
            pdf.replace(entryAt(pdf, std::atoi(object)), 10, "0000000009");
        }
    else if (how == "prev-to-garbage") {
        const size_t prev = pdf.rfind("/Prev ") + 6;
        pdf.replace(prev, pdf.find_first_not_of("0123456789", prev) - prev, "17");
    } else if (how == "root-to-nothing")
        pdf.replace(pdf.rfind("/Root 1 0 R"), 11, "/Root 7 1 R");
    else if (how == "startxref-misspelt")
        pdf.replace(pdf.rfind("startxref"), 9, "startxreF");
    else if (how.rfind("startxref-", 0) == 0) {
        const size_t number = pdf.rfind("startxref\n") + 10;
        pdf.replace(number, pdf.find('\n', number) - number, how.substr(10));
    } else if (how == "broken-streams" || how == "streams-on-one-line") { // inserted before object 10
        std::string junk;
        for (int i = 0; i < 20000; ++i) // whole streams on one line: the line end after each keyword is looked for only a little way
            junk += how == "streams-on-one-line" ? std::to_string(100 + i) + " 0 obj << /Length 2 >> stream xx endstream endobj " : "";
        // streams without "endstream" and many headers for one number; as many with data on their keywords' line;
        // as many "endobj" words that end no object, each before a string
        for (const char* piece : {"99 0 obj\n<< /Length 1 >>\nstream\nxx\n", "<< >> stream xx ", "stream\nendobj ("})
            for (int i = 0; i < 20000 && how == "broken-streams"; ++i)
                junk += piece;
        pdf.insert(pdf.find("10 0 obj"), junk + (how == "broken-streams" ? "" : "\n"));
    } else if (how == "png-data-damaged" || how == "png-crc-wrong") { // in the first IDAT chunk
        const size_t idat = pdf.find("IDAT");
        size_t length = 0;
        for (size_t i = idat - 4; i < idat; ++i)
            length = length << 8 | static_cast<unsigned char>(pdf[i]);
        pdf[idat + 4 + length / 2] ^= 0x55;
        if (how == "png-data-damaged") { // a CRC that fits again
            const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(pdf.data() + idat), static_cast<uInt>(length + 4));
            for (int i = 0; i < 4; ++i)
                pdf[idat + 4 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
        }
    } else if (how == "encrypt-inline") { // the dictionary written in the trailer; the table before it stays right
        const size_t entry = pdf.find("/Encrypt ", pdf.rfind("trailer")), end = pdf.find(" R", entry) + 2;
        const std::string header = pdf.substr(entry + 9, end - 2 - entry - 9) + " obj\n";
        const size_t object = pdf.find("\n" + header) + 1 + header.size();
        pdf.replace(entry, end - entry, "/Encrypt " + pdf.substr(object, pdf.find("\nendobj", object) - object));
    } else
        throw std::invalid_argument("no damage named " + how);
    return pdf;
}

std::string certifiedDoc(const std::string& level, const SigningKit& kit)
{
    vtest::PdfBuilder b;
    const std::string params = level.empty() ? "" : "/P " + level + " ";
    b.set(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /SigFlags 3 >> /Perms << /DocMDP 6 0 R >> >>");
    b.set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Annots [5 0 R] >>");
    b.setStream(4, "", "0 0 1 rg 100 600 200 100 re f\n");
    b.set(5, "<< /FT /Sig /T (Certification) /V 6 0 R /Type /Annot /Subtype /Widget /Rect [0 0 0 0] /F 132 /P 3 0 R >>");
    b.set(6, "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /ByteRange [0 0000000000 "
             "0000000000 0000000000] /Contents <" + std::string(8192, '0') +
                 "> /Reference [<< /Type /SigRef /TransformMethod /DocMDP /TransformParams << /Type /TransformParams " +
                 params + "/V /1.2 >> >>] /M (D:20240101000000Z) >>");
    b.setRoot(1);
    std::string bytes = b.build();
    // The signature covers everything but its own /Contents string.
    const size_t object = static_cast<size_t>(b.objectOffset(6));
    const size_t open = bytes.find("/Contents <", object) + 10, close = bytes.find('>', open) + 1;
    char numbers[40];
    std::snprintf(numbers, sizeof numbers, "%010zu %010zu %010zu", open, close, bytes.size() - close);
    bytes.replace(bytes.find("[0 0000000000", object) + 3, 32, numbers);
    const std::string der = vtest::hex(kit.cms(bytes.substr(0, open) + bytes.substr(close)));
    return bytes.replace(open + 1, std::min(der.size(), close - open - 2), der);
}

} // namespace e2e
