// What the signature check reads from a catalog, hostile ones read the careful way, and how a
// run writes from that and the settings: rewrite or update, content or annotation.

#include "pdf/CPdfException.h"
#include "stamp/CSignatureCheck.h"
#include "stamp/CStampSettings.h"
#include "stamp/CWritePlan.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

// The signature dictionary of a field, with a DocMDP reference when `level` is given.
std::string signature(const std::string& level = "", const std::string& ranges = "[0 10 20 30]")
{
    const std::string reference =
        level.empty() ? "" : "/Reference [<< /TransformMethod /DocMDP /TransformParams << " + level + " >> >>] ";
    return "<< /Type /Sig /ByteRange " + ranges + " /Contents <00> " + reference + ">>";
}
using Objects = std::vector<std::pair<int, std::string>>;
// Fields nested past the depth bound, a signed one at the bottom.
Objects deepFields()
{
    const int depth = CSignatureCheck::kMaxFieldDepth + 8;
    Objects objects{{3 + depth, "<< /FT /Sig /V << /ByteRange [0 1 2 3] >> >>"}};
    for (int i = 0; i < depth; ++i)
        objects.push_back({3 + i, "<< /Kids [" + std::to_string(4 + i) + " 0 R] >>"});
    return objects;
}

// clang-format off
// Entries added to catalog 1 (2 is the page tree); objects from 3 on, all compressed with `objectStreams`.
struct CheckCase { const char *name, *catalog; Objects objects; bool isSigned, appendOnly; int certification; size_t doubts; bool objectStreams = false; };
const char *const kField = "/AcroForm << /Fields [3 0 R] >>", *const kDocMdp = "/Perms << /DocMDP 3 0 R >>",
           *const kTwoFields = "/AcroForm << /Fields [3 0 R 5 0 R] >> /Perms << /DocMDP 4 0 R >>";
// Field 3 signed by signature 4; field 5 by signature 6.
const std::pair<int, std::string> kField3{3, "<< /FT /Sig /V 4 0 R >>"}, kSig4{4, signature()},
    kField5{5, "<< /FT /Sig /V 6 0 R >>"}, kSig6{6, signature()};
CheckCase badRange(const char* name, const char* ranges) { return {name, kField, {kField3, {4, signature("", ranges)}}, true, false, 0, 1}; }
const CheckCase kChecks[] = {
    {"NoForm", "", {}, false, false, 0, 0}, {"SignedField", kField, {kField3, kSig4}, true, false, 0, 0},
    {"UnsignedField", kField, {{3, "<< /FT /Sig /T (a) >>"}}, false, false, 0, 0},
    {"SignedFieldInObjectStream", "/AcroForm 5 0 R", {kField3, kSig4, {5, "<< /Fields [3 0 R] >>"}}, true, false, 0, 0, true},
    {"TypeFromTheParent", kField, {{3, "<< /FT /Sig /Kids [4 0 R] >>"}, {4, "<< /Parent 3 0 R /V << /ByteRange [0 1 2 3] >> >>"}}, true, false, 0, 0},
    // A value several fields name is read for each: only fields are visited once.
    {"FieldsSharingAnIndirectType", "/AcroForm << /Fields [3 0 R 5 0 R] >>",
     {{3, "<< /FT 7 0 R /T (a) >>"}, {5, "<< /FT 7 0 R /V 6 0 R >>"}, kSig6, {7, "/Sig"}}, true, false, 0, 0},
    {"OtherTypeWithAValue", kField, {{3, "<< /FT /Tx /V (text) >>"}}, false, false, 0, 0},
    {"SignaturesExist", "/AcroForm << /Fields [] /SigFlags 1 >>", {}, true, false, 0, 0},
    {"AppendOnly", "/AcroForm << /Fields [] /SigFlags 2 >>", {}, false, true, 0, 0},
    {"FlagsByReference", "/AcroForm << /SigFlags 3 0 R >>", {{3, "3"}}, true, true, 0, 0},
    {"CertifiedNoChanges", kDocMdp, {{3, signature("/P 1")}}, true, false, 1, 0},
    {"CertifiedAnnotations", kDocMdp, {{3, signature("/P 3")}}, true, false, 3, 0},
    {"CertifiedWithoutP", kDocMdp, {{3, signature("/V /1.2")}}, true, false, 2, 0},
    {"CertifiedInField", "/AcroForm << /Fields [3 0 R] >> /Perms << /DocMDP 4 0 R >>", {kField3, {4, signature("/P 3")}}, true, false, 3, 0},
    {"FieldLock", kField, {{3, "<< /FT /Sig /V 4 0 R /Lock << /Action /All /P 2 >> >>"}, kSig4}, true, false, 2, 0},
    {"UsageRights", "/Perms << /UR3 3 0 R >>", {{3, signature()}}, true, false, 0, 0},
    // Hostile or damaged: the careful reading, and a note.
    {"POutOfRange", kDocMdp, {{3, signature("/P 9")}}, true, false, 1, 1},
    {"PNotAnInteger", kDocMdp, {{3, signature("/P (2)")}}, true, false, 1, 1},
    {"PermsToNothing", "/Perms 9 0 R", {}, true, false, 0, 1},
    {"DocMdpToNothing", "/Perms << /DocMDP 9 0 R >>", {}, true, false, 1, 1},
    {"SignatureNoDictionary", kField, {{3, "<< /FT /Sig /V 42 >>"}}, true, false, 0, 1},
    badRange("ByteRangeBeyondTheFile", "[0 10 20 99999999]"), badRange("ByteRangeOverlapping", "[0 50 20 30]"),
    badRange("ByteRangeNegative", "[0 -10 20 30]"), badRange("ByteRangeNotNumbers", "[0 (10) 20 30]"),
    // An approval signature after the certification changes neither its level nor its count.
    {"CertifiedThenSigned", kTwoFields, {kField3, {4, signature("/P 2")}, kField5, kSig6}, true, false, 2, 0},
    {"TwoCertifications", kTwoFields, {kField3, {4, signature("/P 3")}, kField5, {6, signature("/P 2")}}, true, false, 2, 1},
    {"FieldsLoopBack", kField, {{3, "<< /Kids [4 0 R] >>"}, {4, "<< /Kids [3 0 R 4 0 R] >>"}}, false, false, 0, 0},
    // Fields nested past the bound are not read: the check ends, whatever the tree.
    {"StopsAtTheDepthBound", kField, deepFields(), false, false, 0, 0}};

// Options "incremental", "annotation", "marks"; what the input says; the plan, or part of the refusal's message.
struct PlanCase { const char* name; const char* options; CSignatureFindings found; bool rebuilt, update, annotation; size_t warnings; const char* refusal = nullptr; };
// A signature field with a value; /SigFlags append-only; a certification of `level`.
const CSignatureFindings kSigned{true, false, false, false, 0, {}}, kAppendOnly{false, false, true, false, 0, {}};
CSignatureFindings certified(int level) { return {true, false, false, false, level, {}}; }
const PlanCase kPlans[] = {
    {"Unsigned", "", {}, false, false, false, 0}, {"UpdateAskedFor", "incremental", {}, false, true, false, 0},
    {"AnnotationAskedFor", "annotation", {}, false, false, true, 0}, {"Signed", "", kSigned, false, true, false, 1},
    {"AnnotationWithMarks", "annotation marks", {}, false, false, false, 0, "--annotation does not go with"},
    {"AppendOnly", "", kAppendOnly, false, true, false, 1}, {"RebuiltRewritten", "", {}, true, false, false, 0},
    {"CertifiedAnnotations", "", certified(3), false, true, true, 1},
    {"DoubtsAreWarned", "", CSignatureFindings{true, false, false, false, 0, {"a doubt"}}, false, true, false, 2},
    {"CertifiedNoChanges", "", certified(1), false, false, false, 0, "certification (no changes) forbids"},
    {"CertifiedFormFilling", "", certified(2), false, false, false, 0, "(form filling and signing only) forbids"},
    {"CertifiedAnnotationsButMarks", "marks", certified(3), false, false, false, 0, "marks are page content"},
    // A rebuilt table can be rewritten, never updated.
    {"RebuiltUpdateAskedFor", "incremental", {}, true, false, false, 0, "cannot be updated incrementally: 'in.pdf'"},
    {"RebuiltSigned", "", kSigned, true, false, false, 0, "its signatures could not be kept"}};
// clang-format on
class SignatureCheck : public LoadedPdf, public testing::WithParamInterface<CheckCase> {};
class WritePlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(SignatureCheck, ReadsWhatTheCatalogSays)
{
    const CheckCase& c = GetParam();
    b.set(1, std::string("<< /Type /Catalog /Pages 2 0 R ") + c.catalog + " >>");
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
    EXPECT_EQ(std::make_tuple(found.isSigned(), found.appendOnly, found.certification, found.doubts.size()),
              std::make_tuple(c.isSigned, c.appendOnly, c.certification, c.doubts))
        << (found.doubts.empty() ? "" : found.doubts.front());
}
INSTANTIATE_TEST_SUITE_P(Catalogs, SignatureCheck, testing::ValuesIn(kChecks), kRowName);

TEST_P(WritePlan, IsDecidedFromTheSettingsAndTheSignatures)
{
    const PlanCase& c = GetParam();
    CStampSettings settings;
    const std::string options = c.options;
    settings.incremental = options.find("incremental") != std::string::npos;
    settings.annotation = options.find("annotation") != std::string::npos;
    settings.marks = options.find("marks") != std::string::npos ? EMarkBox::CROP : settings.marks;
    try {
        const CWritePlan plan = CWritePlan::decide(settings, c.found, c.rebuilt, "in.pdf");
        EXPECT_EQ(c.refusal, nullptr) << "not refused";
        EXPECT_EQ(std::make_tuple(plan.update, plan.annotation, plan.warnings.size()),
                  std::make_tuple(c.update, c.annotation, c.warnings));
    } catch (const CPdfException& e) {
        ASSERT_NE(c.refusal, nullptr) << e.message();
        EXPECT_NE(std::string(e.message()).find(c.refusal), std::string::npos) << e.message();
    }
}
INSTANTIATE_TEST_SUITE_P(Decisions, WritePlan, ::testing::ValuesIn(kPlans), kRowName);

} // namespace
