// Output bytes are a contract: other programs parse them. Each case stamps a
// builder-made document with the resource number fixed and compares digests
// recorded from a known-good build, so work on speed cannot change what is
// written. Where identical rewrites of a shared object may be written once,
// only the objects a reader sees are compared.
//
// To record the digests again: VELLICO_PRINT_DIGESTS=1 build/tests/app_tests --gtest_filter='Golden*'

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/CommandLine.h"
#include "app/MarkPasses.h"
#include "load/CFileSource.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "stamp/CStampJob.h"
#include "stamp/CObjectReader.h"
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
    CXrefTable& xref = *document.xref();
    CObjectReader reader(*document.file(), xref);
    uint64_t hash = fnv1a("objects");
    for (int num = 0; num < xref.recordCount(); ++num)
        hash = fnv1a(std::to_string(num) + ":" + reader.text(num), hash);
    return hash;
}

std::vector<PagePlan> mixedPages()
{
    std::vector<PagePlan> pages(6);
    pages[0].rotate = 0;
    pages[1].resources = Resources::Indirect;
    pages[1].contents = Contents::Array;
    pages[1].rotate = 90;
    pages[2].subDictionariesByReference = true;
    pages[2].contents = Contents::ArrayRef;
    pages[2].rotate = 180;
    pages[2].flate = true;
    pages[3].resources = Resources::Indirect;
    pages[3].subDictionariesByReference = true;
    pages[3].rotate = 270;
    pages[3].crop = render::Box{40, 40, 560, 700};
    pages[4].resources = Resources::Bare;
    pages[4].contents = Contents::None;
    pages[5].resources = Resources::None;
    pages[5].media.reset();
    return pages;
}

DocPlan doc(Layout layout, NodeResources nodeResources, int pageCount = 6)
{
    DocPlan plan;
    plan.pages = mixedPages();
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
    plan.pages.resize(5);
    plan.pages[1].contents = Contents::Array;
    plan.pages[1].rotate = 90;
    plan.pages[2].contents = Contents::ArrayRef;
    plan.pages[2].rotate = 270;
    plan.pages[2].flate = true;
    plan.pages[3].resources = Resources::Bare;
    plan.pages[3].contents = Contents::None;
    plan.pages[4].resources = Resources::None;
    plan.pages[4].media.reset();
    plan.layout = layout;
    plan.nodeResources = NodeResources::Inline;
    plan.nodeMedia = render::Box{0, 0, 595, 842};
    plan.nodeRotate = 180;
    plan.infoGen = 2;
    return plan;
}

struct GoldenCase {
    const char* name;
    DocPlan plan;
    std::vector<std::string> options;
    bool bytesCompared; // false where a shared object rewritten alike for many pages may be written once
    uint64_t bytes;
    uint64_t objects;
};

std::ostream& operator<<(std::ostream& out, const GoldenCase& c) { return out << c.name; }

class GoldenOutput : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenOutput, IsWhatItWas)
{
    const GoldenCase& c = GetParam();
    vtest::TempDir work;
    vtest::writeFile(work.file("in.pdf"), buildDoc(c.plan).bytes);
    std::vector<std::string> arguments = {"vellico", "-i" + work.file("in.pdf"), "-o" + work.file("out.pdf"),
                                          "-j" + fixture("stamp.jpg")};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    std::vector<const char*> vector;
    for (const std::string& argument : arguments)
        vector.push_back(argument.c_str());

    // Mark passes read their images from the current folder.
    for (const char* name : {"CropmarkHorizontal.jpg", "CropmarkVertical.jpg"})
        vtest::writeFile(work.file(name), vtest::readFile(vtest::sourceDir() + "/data/" + name));
    const std::filesystem::path folder = std::filesystem::current_path();
    std::filesystem::current_path(work.path());
    CStampJob job;
    job.setResourceNumber(4711);
    testing::internal::CaptureStdout();
    try {
        processFile(job, static_cast<int>(vector.size()), vector.data());
    } catch (...) {
        testing::internal::GetCapturedStdout();
        std::filesystem::current_path(folder);
        throw;
    }
    testing::internal::GetCapturedStdout();
    std::filesystem::current_path(folder);

    const std::string output = vtest::readFile(work.file("out.pdf"));
    const uint64_t bytes = fnv1a(output);
    const uint64_t objects = objectsDigest(work.file("out.pdf"));
    if (std::getenv("VELLICO_PRINT_DIGESTS"))
        std::printf("%s 0x%016llxull 0x%016llxull\n", c.name, static_cast<unsigned long long>(bytes),
                    static_cast<unsigned long long>(objects));
    EXPECT_EQ(objects, c.objects) << "the objects of the output changed";
    if (c.bytesCompared) {
        EXPECT_EQ(bytes, c.bytes) << "the bytes of the output changed";
    }
}

// The mixed documents share /Resources, /XObject and /ExtGState objects
// between pages: one rewritten copy of each now serves them all, so only
// the objects a reader sees are compared for them.
INSTANTIATE_TEST_SUITE_P(
    Golden, GoldenOutput,
    testing::Values(
        GoldenCase{"UnsharedClassic", unsharedDoc(Layout::Classic), {}, true, 0x970f8108ed9c1528ull, 0x3d13d667d2b33975ull},
        GoldenCase{"UnsharedOptions", unsharedDoc(Layout::Classic), {"-fliph", "-pos30,40", "-align", "right", "-opacity35", "-size80,20", "-s2"}, true, 0xcb5ef78865202070ull, 0x5968726f8b7136b7ull},
        GoldenCase{"UnsharedMarkFlags", unsharedDoc(Layout::Incremental), {"-trim_brv", "-crop_tlh"}, true, 0xf7267f80c633dcc5ull, 0xdab89e0a65e471cbull},
        GoldenCase{"UnsharedXrefStreamPng", unsharedDoc(Layout::XrefStreamPng), {}, true, 0x5ce68948ba7b604eull, 0x1731d6bd707ff9aaull},
        GoldenCase{"UnsharedObjectStreams", unsharedDoc(Layout::ObjectStreams), {}, true, 0x31ea677f317e16a1ull, 0x76a38e7cfd6e3091ull},
        GoldenCase{"UnsharedHybrid", unsharedDoc(Layout::Hybrid), {}, true, 0xaec98b72dcbd0eb8ull, 0x8a2678b3f34511f6ull},
        GoldenCase{"UnsharedCropMarks", unsharedDoc(Layout::Classic), {"-crop_marks"}, true, 0x3959174ec7da07abull, 0xd11720a8410f4449ull},
        GoldenCase{"UnsharedTrimMarksInObjectStreams", unsharedDoc(Layout::ObjectStreams), {"-trim_marks", "-s2"}, true, 0x57c8764d540b36baull, 0xe8bffb6ba8ed380dull},
        GoldenCase{"UnsharedJunkPrefix", unsharedDoc(Layout::JunkPrefix), {"-noforce"}, true, 0x843e5226542f437dull, 0xa5b0553118ccff26ull},
        GoldenCase{"Classic", doc(Layout::Classic, NodeResources::Inline), {}, false, 0xa5404af77b176840ull, 0x4881ffe2ce01c534ull},
        GoldenCase{"ClassicOptions", doc(Layout::Classic, NodeResources::Inline), {"-flipv", "-fliph", "-pos-1,-1", "-align", "center", "-opacity50", "-size50,30"}, false, 0xd0090bbdd9ee296full, 0x8a254c58f759924aull},
        GoldenCase{"ClassicMarkFlags", doc(Layout::Classic, NodeResources::Inline), {"-crop_blh", "-trim_trv"}, false, 0x05b019cadd37196full, 0x6425c7f1d4740c3eull},
        GoldenCase{"ClassicCropMarks", doc(Layout::Classic, NodeResources::Inline, 9), {"-crop_marks", "-n3"}, false, 0x0aadd7b317ca9a36ull, 0xf5709a1782002b97ull},
        GoldenCase{"SharedTrimMarks", doc(Layout::Incremental, NodeResources::Reference, 6), {"-trim_marks"}, false, 0x3a7f368d39a1670cull, 0x13e1880fa337bbe5ull},
        GoldenCase{"ClassicSelection", doc(Layout::Classic, NodeResources::Inline, 9), {"-s2", "-e8", "-n3"}, false, 0x26373da5c6679b34ull, 0x66b6d108d6dc1031ull},
        GoldenCase{"Incremental", doc(Layout::Incremental, NodeResources::None), {}, false, 0x6447ffc043b7e8f2ull, 0x03a2c2c48e1a216full},
        GoldenCase{"XrefStreamPng", doc(Layout::XrefStreamPng, NodeResources::Inline), {}, false, 0x36d29014933272e4ull, 0x8abce3c218cfcbc2ull},
        GoldenCase{"ObjectStreams", doc(Layout::ObjectStreams, NodeResources::Inline), {}, false, 0x808b301c51d9798full, 0x6ae7c2d6b41cdc73ull},
        GoldenCase{"Hybrid", doc(Layout::Hybrid, NodeResources::None), {}, false, 0x1284d523e77ae598ull, 0xf8baa3e27cca6d7full},
        GoldenCase{"JunkPrefix", doc(Layout::JunkPrefix, NodeResources::Inline), {"-noforce"}, false, 0x63d1b07f81febf7aull, 0xdc1d0fe14d03d960ull},
        GoldenCase{"SharedInheritedResources", doc(Layout::Classic, NodeResources::Reference, 8), {}, false, 0xe1a72db92716864eull, 0xf622986d6af2645full},
        GoldenCase{"SharedInObjectStreams", doc(Layout::ObjectStreams, NodeResources::Reference, 8), {}, false, 0x5ba59a2f3bdca0d8ull, 0xc30783e24c5e22c2ull}),
    [](const testing::TestParamInfo<GoldenCase>& info) { return std::string(info.param.name); });

} // namespace
