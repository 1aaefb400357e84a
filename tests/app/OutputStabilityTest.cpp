// Output bytes are a contract: other programs parse them. Each row stamps a
// builder-made document with the resource number fixed and compares digests
// recorded from a known-good build, so work on speed cannot change what is
// written. (Recorded again when every stamp began to carry its id's mark.) Where identical rewrites of a shared object
// may be written once, only the objects a reader sees are compared. To record the digests again:
// VELLICO_PRINT_DIGESTS=1 build/tests/app_tests --gtest_filter='Golden*'

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/CConsoleReporter.h"
#include "app/CommandLine.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "page/CStampSettings.h"
#include "stamp/MarkPasses.h"
#include "tests/app/E2e.h"

using namespace e2e;

namespace {

uint64_t fnv1a(const std::string& bytes, uint64_t hash = 14695981039346656037ull)
{
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// Every object a reader of `path` sees, in number order.
uint64_t objectsDigest(const std::string& path)
{
    CPdfFile document;
    document.open(path);
    CXrefTable& xref = document.xref();
    CObjectReader& reader = document.reader();
    uint64_t hash = fnv1a("objects");
    for (int num = 0; num < xref.recordCount(); ++num)
        hash = fnv1a(std::to_string(num) + ":" + reader.text(num), hash);
    return hash;
}

// rotate, resources, contents, subDictionariesByReference, flate, crop, cropByReference, trim, media
const PagePlan kPlain{}, kArray{90, Resources::Indirect, Contents::Array}, kBare{-1, Resources::Bare, Contents::None};
const PagePlan kInheriting{-1, Resources::None, Contents::Stream, false, false, {}, false, {}, std::nullopt};

// Pages that share /Resources, /XObject and /ExtGState objects, the last of them repeated.
DocPlan doc(Layout layout, NodeResources nodeResources, int pageCount = 6)
{
    DocPlan plan;
    plan.pages = {{0}, kArray, {180, Resources::Inline, Contents::ArrayRef, true, true},
                  {270, Resources::Indirect, Contents::Stream, true, false, render::Box{40, 40, 560, 700}}, kBare, kInheriting};
    plan.pages.resize(static_cast<size_t>(pageCount), plan.pages.back());
    plan.layout = layout;
    plan.nodeResources = nodeResources;
    plan.nodeMedia = render::Box{0, 0, 612, 792};
    plan.nodeRotate = 90;
    plan.rootGen = 1;
    return plan;
}

// Pages that share no rewritten object: inline resources (own or inherited
// from an inline dictionary), so the output must stay the same byte for byte.
DocPlan unsharedDoc(Layout layout)
{
    DocPlan plan;
    plan.pages = {kPlain, {90, Resources::Inline, Contents::Array}, {270, Resources::Inline, Contents::ArrayRef, false, true}, kBare,
                  kInheriting};
    plan.layout = layout;
    plan.nodeResources = NodeResources::Inline;
    plan.nodeMedia = render::Box{0, 0, 595, 842};
    plan.nodeRotate = 180;
    plan.infoGen = 2;
    return plan;
}

// Unchanged objects long enough to be copied by the system, or read straight
// into the output's buffer (one of 100 KB, one of 300 KB, one of 9 MB, several
// times the buffer), between pages that are rewritten.
DocPlan longRunsDoc()
{
    DocPlan plan = unsharedDoc(Layout::Classic);
    plan.pages.resize(4);
    for (const auto& [page, padding] : {std::pair<size_t, size_t>{0, 100 * 1024}, {1, 300 * 1024}, {2, 9 << 20}}) {
        plan.pages[page].contents = Contents::Stream;
        plan.pages[page].flate = false;
        plan.pages[page].padding = padding;
    }
    return plan;
}

struct GoldenCase {
    const char* name;
    DocPlan plan;
    std::vector<std::string> options;
    bool bytesCompared; // false where a shared object rewritten alike for many pages may be written once
    uint64_t bytes, objects;
};
std::ostream& operator<<(std::ostream& out, const GoldenCase& c) { return out << c.name; }

class GoldenOutput : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenOutput, IsWhatItWas)
{
    const GoldenCase& c = GetParam();
    Workspace work; // mark passes read their images from the current folder
    work.write("in.pdf", buildDoc(c.plan).bytes);
    std::vector<std::string> arguments = {"vellico", "-iin.pdf", "-oout.pdf", "-jstamp.jpg"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    std::vector<const char*> vector;
    for (const std::string& argument : arguments)
        vector.push_back(argument.c_str());
    struct InFolder { // the test's own folder back, whatever happens
        std::filesystem::path was = std::filesystem::current_path();
        ~InFolder() { std::filesystem::current_path(was); }
    } back;
    std::filesystem::current_path(work.path());
    std::string console;
    CConsoleReporter reporter(console);
    CStampSettings settings = parseArguments(static_cast<int>(vector.size()), vector.data(), reporter);
    settings.resourceNumber = 4711;
    size_t repairs = 0;
    processFile(settings, reporter, false, repairs);
    const uint64_t bytes = fnv1a(vtest::readFile(work.file("out.pdf"))), objects = objectsDigest(work.file("out.pdf"));
    if (std::getenv("VELLICO_PRINT_DIGESTS"))
        std::printf("%s 0x%016llxull 0x%016llxull\n", c.name, static_cast<unsigned long long>(bytes),
                    static_cast<unsigned long long>(objects));
    EXPECT_EQ(objects, c.objects) << "the objects of the output changed";
    EXPECT_TRUE(!c.bytesCompared || bytes == c.bytes) << "the bytes of the output changed";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Golden, GoldenOutput, testing::Values(
    GoldenCase{"UnsharedClassic", unsharedDoc(Layout::Classic), {}, true, 0xec5dd2474c5cc944ull, 0x073e8b45a0aace91ull},
    GoldenCase{"UnsharedOptions", unsharedDoc(Layout::Classic), {"-fliph", "-pos30,40", "-align", "right", "-opacity35", "-size80,20", "-s2"}, true, 0xa1cb5b08b852752eull, 0x47bc07eabf48a833ull},
    GoldenCase{"UnsharedMarkFlags", unsharedDoc(Layout::Incremental), {"-trim_brv", "-crop_tlh"}, true, 0x3db6985468c4a5f0ull, 0xd962cad5054f419bull},
    GoldenCase{"UnsharedXrefStreamPng", unsharedDoc(Layout::XrefStreamPng), {}, true, 0xc5b983aa44231d59ull, 0x35bfda154e16b777ull},
    GoldenCase{"UnsharedObjectStreams", unsharedDoc(Layout::ObjectStreams), {}, true, 0x73725fcdcf8509cfull, 0xd40886d8f943eb14ull},
    GoldenCase{"UnsharedHybrid", unsharedDoc(Layout::Hybrid), {}, true, 0xe0cc559f9027b466ull, 0x73ca09b0941f2735ull},
    GoldenCase{"UnsharedCropMarks", unsharedDoc(Layout::Classic), {"-crop_marks"}, true, 0xf1b1cf5c86bb431aull, 0x6ac5f257fdf7e683ull},
    GoldenCase{"UnsharedTrimMarksInObjectStreams", unsharedDoc(Layout::ObjectStreams), {"-trim_marks", "-s2"}, true, 0xe1b70eb69c25eec7ull, 0x3e8f7eba46272b04ull},
    GoldenCase{"UnsharedJunkPrefix", unsharedDoc(Layout::JunkPrefix), {"-noforce"}, true, 0x95e3a793c05cc965ull, 0xcc6cdefaa44dc8f6ull},
    GoldenCase{"UnsharedLongRuns", longRunsDoc(), {}, true, 0xbe3e0895c20d2915ull, 0xcd6d955f3c23611aull},
    // Only the first page rewritten: the rest of the file is one run.
    GoldenCase{"UnsharedLongRunOnePage", longRunsDoc(), {"-s1", "-e1"}, true, 0x3c7a2a897a05ea06ull, 0xe446fcb180678dcbull},
    GoldenCase{"Classic", doc(Layout::Classic, NodeResources::Inline), {}, false, 0x3b56cba8c27e6083ull, 0x84ba1bdc63b66e15ull},
    GoldenCase{"ClassicOptions", doc(Layout::Classic, NodeResources::Inline), {"-flipv", "-fliph", "-pos-1,-1", "-align", "center", "-opacity50", "-size50,30"}, false, 0xa77523486cf0d995ull, 0x861007f8185f37f1ull},
    GoldenCase{"ClassicMarkFlags", doc(Layout::Classic, NodeResources::Inline), {"-crop_blh", "-trim_trv"}, false, 0x2849db2942b7f454ull, 0x532673af9a31899aull},
    GoldenCase{"ClassicCropMarks", doc(Layout::Classic, NodeResources::Inline, 9), {"-crop_marks", "-n3"}, false, 0x0879f25f4b8e9bfbull, 0xe4bcbd5bba23c50dull},
    GoldenCase{"SharedTrimMarks", doc(Layout::Incremental, NodeResources::Reference, 6), {"-trim_marks"}, false, 0xda3ea5524b6e5281ull, 0xb47ddcb3555acf6full},
    GoldenCase{"ClassicSelection", doc(Layout::Classic, NodeResources::Inline, 9), {"-s2", "-e8", "-n3"}, false, 0xaa91edd725ec25d7ull, 0x96341f8469f55ab4ull},
    GoldenCase{"Incremental", doc(Layout::Incremental, NodeResources::None), {}, false, 0xbacb0fc837d1b448ull, 0x1aeb34774d833bfcull},
    GoldenCase{"XrefStreamPng", doc(Layout::XrefStreamPng, NodeResources::Inline), {}, false, 0xa01865c73b6abf90ull, 0x54729b8ed1f398e4ull},
    GoldenCase{"ObjectStreams", doc(Layout::ObjectStreams, NodeResources::Inline), {}, false, 0x97b11ab7c7f82d6aull, 0x0d849e1479765d17ull},
    GoldenCase{"Hybrid", doc(Layout::Hybrid, NodeResources::None), {}, false, 0x9c2d69be7a1d404eull, 0xd4a841a7d531127bull},
    GoldenCase{"JunkPrefix", doc(Layout::JunkPrefix, NodeResources::Inline), {"-noforce"}, false, 0xa4d8fec509a0ab56ull, 0x5d61c70368a81b77ull},
    GoldenCase{"SharedInheritedResources", doc(Layout::Classic, NodeResources::Reference, 8), {}, false, 0xcaee2cfc8bdbc55cull, 0x1357e8ecb3b34113ull},
    GoldenCase{"SharedInObjectStreams", doc(Layout::ObjectStreams, NodeResources::Reference, 8), {}, false, 0x1c2ddb366266f25eull, 0x1c342c00cd13af4dull}),
    [](const testing::TestParamInfo<GoldenCase>& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
