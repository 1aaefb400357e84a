// How a run writes, from the settings and what the input says of its
// signatures: rewrite or update, content or annotation, what it warns of,
// and the files it refuses.

#include "pdf/CPdfException.h"
#include "stamp/CSignatureCheck.h"
#include "stamp/CStampSettings.h"
#include "stamp/CWritePlan.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

struct PlanCase {
    const char* name;
    std::vector<const char*> options; // "incremental", "annotation", "marks"
    CSignatureFindings found;
    bool rebuilt;
    bool update, annotation;
    size_t warnings;
    const char* refusal = nullptr; // part of the message, when refused
};
void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

CSignatureFindings certified(int level)
{
    CSignatureFindings found;
    found.signedField = true;
    found.certification = level;
    return found;
}
CSignatureFindings signedWith(bool signedField, bool appendOnly, std::vector<std::string> doubts = {})
{
    CSignatureFindings found;
    found.signedField = signedField;
    found.appendOnly = appendOnly;
    found.doubts = std::move(doubts);
    return found;
}

const PlanCase kPlans[] = {
    {"Unsigned", {}, {}, false, false, false, 0},
    {"UpdateAskedFor", {"incremental"}, {}, false, true, false, 0},
    {"AnnotationAskedFor", {"annotation"}, {}, false, false, true, 0},
    {"AnnotationWithMarks", {"annotation", "marks"}, {}, false, false, false, 0, "--annotation does not go with"},
    {"Signed", {}, signedWith(true, false), false, true, false, 1},
    {"AppendOnly", {}, signedWith(false, true), false, true, false, 1},
    {"DoubtsAreWarned", {}, signedWith(true, false, {"a doubt"}), false, true, false, 2},
    {"CertifiedNoChanges", {}, certified(1), false, false, false, 0, "certification (no changes) forbids"},
    {"CertifiedFormFilling", {}, certified(2), false, false, false, 0, "(form filling and signing only) forbids"},
    {"CertifiedAnnotations", {}, certified(3), false, true, true, 1},
    {"CertifiedAnnotationsButMarks", {"marks"}, certified(3), false, false, false, 0, "marks are page content"},
    // A rebuilt table can be rewritten, never updated.
    {"RebuiltRewritten", {}, {}, true, false, false, 0},
    {"RebuiltUpdateAskedFor", {"incremental"}, {}, true, false, false, 0, "cannot be updated incrementally: 'in.pdf'"},
    {"RebuiltSigned", {}, signedWith(true, false), true, false, false, 0, "its signatures could not be kept"},
};

class WritePlan : public ::testing::TestWithParam<PlanCase> {};

} // namespace

TEST_P(WritePlan, IsDecidedFromTheSettingsAndTheSignatures)
{
    const PlanCase& c = GetParam();
    CStampSettings settings;
    for (const std::string option : c.options) {
        settings.incremental = settings.incremental || option == "incremental";
        settings.annotation = settings.annotation || option == "annotation";
        if (option == "marks")
            settings.marks = EMarkBox::CROP;
    }
    try {
        const CWritePlan plan = CWritePlan::decide(settings, c.found, c.rebuilt, "in.pdf");
        EXPECT_EQ(c.refusal, nullptr) << "not refused";
        EXPECT_EQ(plan.update, c.update);
        EXPECT_EQ(plan.annotation, c.annotation);
        EXPECT_EQ(plan.warnings.size(), c.warnings);
    } catch (const CPdfException& e) {
        ASSERT_NE(c.refusal, nullptr) << e.message();
        EXPECT_NE(std::string(e.message()).find(c.refusal), std::string::npos) << e.message();
    }
}
INSTANTIATE_TEST_SUITE_P(Decisions, WritePlan, ::testing::ValuesIn(kPlans), kRowName);
