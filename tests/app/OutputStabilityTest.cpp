// Output bytes are a contract: other programs parse them. Each row stamps a
// builder-made document with the resource number fixed and compares digests
// recorded from a known-good build, so work on speed cannot change what is
// written. Where identical rewrites of a shared object may be written once,
// only the objects a reader sees are compared. To record the digests again:
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
    GoldenCase{"UnsharedClassic", unsharedDoc(Layout::Classic), {}, true, 0x55e753d8f28570ecull, 0x072e5e42dc5a1402ull},
    GoldenCase{"UnsharedOptions", unsharedDoc(Layout::Classic), {"-fliph", "-pos30,40", "-align", "right", "-opacity35", "-size80,20", "-s2"}, true, 0xd0fae5161083a416ull, 0xea61d5a4560f612bull},
    GoldenCase{"UnsharedMarkFlags", unsharedDoc(Layout::Incremental), {"-trim_brv", "-crop_tlh"}, true, 0x67e471205e0aa151ull, 0xbd625d24764c8864ull},
    GoldenCase{"UnsharedXrefStreamPng", unsharedDoc(Layout::XrefStreamPng), {}, true, 0x0eb96cafa1161829ull, 0xaec81c1759aa1781ull},
    GoldenCase{"UnsharedObjectStreams", unsharedDoc(Layout::ObjectStreams), {}, true, 0x33caf0491ef15b4full, 0x3bc3a3af96722066ull},
    GoldenCase{"UnsharedHybrid", unsharedDoc(Layout::Hybrid), {}, true, 0xacd6839c33d57e0eull, 0x68204b27790d1dc5ull},
    GoldenCase{"UnsharedCropMarks", unsharedDoc(Layout::Classic), {"-crop_marks"}, true, 0x4c347dde84089c2full, 0x687291584793d761ull},
    GoldenCase{"UnsharedTrimMarksInObjectStreams", unsharedDoc(Layout::ObjectStreams), {"-trim_marks", "-s2"}, true, 0xb47f6bbbb0131044ull, 0x4ff790531cd17489ull},
    GoldenCase{"UnsharedJunkPrefix", unsharedDoc(Layout::JunkPrefix), {"-noforce"}, true, 0xfc7550dafb8707d6ull, 0x53f9c3c6bdf8819bull},
    GoldenCase{"UnsharedLongRuns", longRunsDoc(), {}, true, 0x9105196a8bae88e8ull, 0x33e336648b10e0c2ull},
    // Only the first page rewritten: the rest of the file is one run.
    GoldenCase{"UnsharedLongRunOnePage", longRunsDoc(), {"-s1", "-e1"}, true, 0xd5c78e93b18bf81bull, 0x64dc0ec764ddf779ull},
    GoldenCase{"Classic", doc(Layout::Classic, NodeResources::Inline), {}, false, 0xd868de64d9a53137ull, 0xbb44fd59611feca0ull},
    GoldenCase{"ClassicOptions", doc(Layout::Classic, NodeResources::Inline), {"-flipv", "-fliph", "-pos-1,-1", "-align", "center", "-opacity50", "-size50,30"}, false, 0x1c14b4eda041fe41ull, 0x7f44659ff66e0aa8ull},
    GoldenCase{"ClassicMarkFlags", doc(Layout::Classic, NodeResources::Inline), {"-crop_blh", "-trim_trv"}, false, 0xb209e5d3d5a44c81ull, 0x602a3f8e144da7d6ull},
    GoldenCase{"ClassicCropMarks", doc(Layout::Classic, NodeResources::Inline, 9), {"-crop_marks", "-n3"}, false, 0x73ab082cb2639f0eull, 0x406b1f210bf4107full},
    GoldenCase{"SharedTrimMarks", doc(Layout::Incremental, NodeResources::Reference, 6), {"-trim_marks"}, false, 0x1d76cc7baf62dc82ull, 0x846ef6ad2f7e1cb9ull},
    GoldenCase{"ClassicSelection", doc(Layout::Classic, NodeResources::Inline, 9), {"-s2", "-e8", "-n3"}, false, 0x3f91430972db3a98ull, 0xd417706c45305a03ull},
    GoldenCase{"Incremental", doc(Layout::Incremental, NodeResources::None), {}, false, 0xbc2c2950b7b82dbcull, 0xe5073e00c7a93093ull},
    GoldenCase{"XrefStreamPng", doc(Layout::XrefStreamPng, NodeResources::Inline), {}, false, 0x88c351be23c83447ull, 0x71c5f0a05f9c4a7eull},
    GoldenCase{"ObjectStreams", doc(Layout::ObjectStreams, NodeResources::Inline), {}, false, 0xf4d438d711a8f8edull, 0x056b4f6d338d6d0full},
    GoldenCase{"Hybrid", doc(Layout::Hybrid, NodeResources::None), {}, false, 0xc42a41101ec2b25dull, 0xcda96c1057a7d2fbull},
    GoldenCase{"JunkPrefix", doc(Layout::JunkPrefix, NodeResources::Inline), {"-noforce"}, false, 0xbeb0eaad1b0efef2ull, 0x05c2de3f6e752546ull},
    GoldenCase{"SharedInheritedResources", doc(Layout::Classic, NodeResources::Reference, 8), {}, false, 0x8e3a4315f0280f14ull, 0x82509fb57251e243ull},
    GoldenCase{"SharedInObjectStreams", doc(Layout::ObjectStreams, NodeResources::Reference, 8), {}, false, 0xbe48a2870f2d6eaaull, 0x3aec75ddc9e5b0a6ull}),
    [](const testing::TestParamInfo<GoldenCase>& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
