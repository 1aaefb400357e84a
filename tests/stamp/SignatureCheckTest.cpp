// What the signature check reads from a catalog: one row per form, field
// tree or /Perms, hostile ones among them (loops, depth, lies, several
// certifications), each read the careful way.

#include <gtest/gtest.h>

#include <string>

#include "stamp/CSignatureCheck.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

// The signature dictionary of a field, with a DocMDP reference when `level` is given.
std::string signature(const std::string& level = "", const std::string& ranges = "[0 10 20 30]")
{
    const std::string reference =
        level.empty() ? "" : "/Reference [<< /TransformMethod /DocMDP /TransformParams << " + level + " >> >>] ";
    return "<< /Type /Sig /ByteRange " + ranges + " /Contents <00> " + reference + ">>";
}

struct CheckCase {
    const char* name;
    std::string catalog;                              // entries added to catalog 1 (object 2 is the page tree)
    std::vector<std::pair<int, std::string>> objects; // further objects, from 3 on
    bool isSigned;
    bool appendOnly;
    int certification;
    size_t doubts;
    bool objectStreams = false; // every object of `objects` compressed
};

std::ostream& operator<<(std::ostream& out, const CheckCase& c) { return out << c.name; }

class SignatureCheck : public LoadedPdf, public testing::WithParamInterface<CheckCase> {};

TEST_P(SignatureCheck, ReadsWhatTheCatalogSays)
{
    const CheckCase& c = GetParam();
    b.set(1, "<< /Type /Catalog /Pages 2 0 R " + c.catalog + " >>");
    b.set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    for (const auto& [num, text] : c.objects)
        b.set(num, text);
    if (c.objectStreams) {
        const int objStm = b.addObjectStream();
        for (const auto& entry : c.objects)
            b.compress(entry.first, objStm);
        b.setXref(vtest::XrefKind::Stream);
    }
    load(b.build());
    const CSignatureFindings found = CSignatureCheck(doc->xref(), doc->file().size()).inspect();
    EXPECT_EQ(found.isSigned(), c.isSigned);
    EXPECT_EQ(found.appendOnly, c.appendOnly);
    EXPECT_EQ(found.certification, c.certification);
    EXPECT_EQ(found.doubts.size(), c.doubts) << (found.doubts.empty() ? "" : found.doubts.front());
}

INSTANTIATE_TEST_SUITE_P(
    Catalogs, SignatureCheck,
    testing::Values(
        CheckCase{"NoForm", "", {}, false, false, 0, 0},
        CheckCase{
            "UnsignedField", "/AcroForm << /Fields [3 0 R] >>", {{3, "<< /FT /Sig /T (a) >>"}}, false, false, 0, 0},
        CheckCase{"SignedField",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"}, {4, signature()}},
                  true,
                  false,
                  0,
                  0},
        CheckCase{"SignedFieldInObjectStream",
                  "/AcroForm 5 0 R",
                  {{3, "<< /FT /Sig /V 4 0 R >>"}, {4, signature()}, {5, "<< /Fields [3 0 R] >>"}},
                  true,
                  false,
                  0,
                  0,
                  true},
        CheckCase{"TypeFromTheParent",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /Kids [4 0 R] >>"}, {4, "<< /Parent 3 0 R /V << /ByteRange [0 1 2 3] >> >>"}},
                  true,
                  false,
                  0,
                  0},
        // A value several fields name is read for each: only fields are visited once.
        CheckCase{"FieldsSharingAnIndirectType",
                  "/AcroForm << /Fields [3 0 R 5 0 R] >>",
                  {{3, "<< /FT 7 0 R /T (a) >>"}, {5, "<< /FT 7 0 R /V 6 0 R >>"}, {6, signature()}, {7, "/Sig"}},
                  true,
                  false,
                  0,
                  0},
        CheckCase{"OtherTypeWithAValue",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Tx /V (text) >>"}},
                  false,
                  false,
                  0,
                  0},
        CheckCase{"SignaturesExist", "/AcroForm << /Fields [] /SigFlags 1 >>", {}, true, false, 0, 0},
        CheckCase{"AppendOnly", "/AcroForm << /Fields [] /SigFlags 2 >>", {}, false, true, 0, 0},
        CheckCase{"FlagsByReference", "/AcroForm << /SigFlags 3 0 R >>", {{3, "3"}}, true, true, 0, 0},
        CheckCase{"CertifiedNoChanges", "/Perms << /DocMDP 3 0 R >>", {{3, signature("/P 1")}}, true, false, 1, 0},
        CheckCase{"CertifiedAnnotations", "/Perms << /DocMDP 3 0 R >>", {{3, signature("/P 3")}}, true, false, 3, 0},
        CheckCase{"CertifiedWithoutP", "/Perms << /DocMDP 3 0 R >>", {{3, signature("/V /1.2")}}, true, false, 2, 0},
        CheckCase{"CertifiedInField",
                  "/AcroForm << /Fields [3 0 R] >> /Perms << /DocMDP 4 0 R >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"}, {4, signature("/P 3")}},
                  true,
                  false,
                  3,
                  0},
        CheckCase{"FieldLock",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /V 4 0 R /Lock << /Action /All /P 2 >> >>"}, {4, signature()}},
                  true,
                  false,
                  2,
                  0},
        CheckCase{"UsageRights", "/Perms << /UR3 3 0 R >>", {{3, signature()}}, true, false, 0, 0},
        // Hostile or damaged: the careful reading, and a note.
        CheckCase{"POutOfRange", "/Perms << /DocMDP 3 0 R >>", {{3, signature("/P 9")}}, true, false, 1, 1},
        CheckCase{"PNotAnInteger", "/Perms << /DocMDP 3 0 R >>", {{3, signature("/P (2)")}}, true, false, 1, 1},
        CheckCase{"PermsToNothing", "/Perms 9 0 R", {}, true, false, 0, 1},
        CheckCase{"DocMdpToNothing", "/Perms << /DocMDP 9 0 R >>", {}, true, false, 1, 1},
        CheckCase{"SignatureNoDictionary",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /V 42 >>"}},
                  true,
                  false,
                  0,
                  1},
        CheckCase{"ByteRangeBeyondTheFile",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"}, {4, signature("", "[0 10 20 99999999]")}},
                  true,
                  false,
                  0,
                  1},
        CheckCase{"ByteRangeOverlapping",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"}, {4, signature("", "[0 50 20 30]")}},
                  true,
                  false,
                  0,
                  1},
        CheckCase{"ByteRangeNegative",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"}, {4, signature("", "[0 -10 20 30]")}},
                  true,
                  false,
                  0,
                  1},
        CheckCase{"ByteRangeNotNumbers",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"}, {4, signature("", "[0 (10) 20 30]")}},
                  true,
                  false,
                  0,
                  1},
        // An approval signature after the certification changes neither its level nor its count.
        CheckCase{"CertifiedThenSigned",
                  "/AcroForm << /Fields [3 0 R 5 0 R] >> /Perms << /DocMDP 4 0 R >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"},
                   {4, signature("/P 2")},
                   {5, "<< /FT /Sig /V 6 0 R >>"},
                   {6, signature()}},
                  true,
                  false,
                  2,
                  0},
        CheckCase{"TwoCertifications",
                  "/AcroForm << /Fields [3 0 R 5 0 R] >> /Perms << /DocMDP 4 0 R >>",
                  {{3, "<< /FT /Sig /V 4 0 R >>"},
                   {4, signature("/P 3")},
                   {5, "<< /FT /Sig /V 6 0 R >>"},
                   {6, signature("/P 2")}},
                  true,
                  false,
                  2,
                  1},
        CheckCase{"FieldsLoopBack",
                  "/AcroForm << /Fields [3 0 R] >>",
                  {{3, "<< /Kids [4 0 R] >>"}, {4, "<< /Kids [3 0 R 4 0 R] >>"}},
                  false,
                  false,
                  0,
                  0}),
    kRowName);

// Fields nested past the bound are not read: the check ends, whatever the tree.
TEST_F(LoadedPdf, SignatureCheckStopsAtTheDepthBound)
{
    const int depth = CSignatureCheck::kMaxFieldDepth + 8;
    b.set(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [3 0 R] >> >>");
    b.set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    for (int i = 0; i < depth; ++i)
        b.set(3 + i, "<< /Kids [" + std::to_string(4 + i) + " 0 R] >>");
    b.set(3 + depth, "<< /FT /Sig /V << /ByteRange [0 1 2 3] >> >>");
    load(b.build());
    EXPECT_FALSE(CSignatureCheck(doc->xref(), doc->file().size()).inspect().isSigned());
}

} // namespace
