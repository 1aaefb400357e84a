// How a run writes, from the settings and what the input says of its
// signatures: rewrite or update, content or annotation, what it warns of,
// and the files it refuses.

#include "pdf/CPdfException.h"
#include "stamp/CSignatureCheck.h"
#include "stamp/CStampSettings.h"
#include "stamp/CWritePlan.h"
#include "tests/stamp/LoadedPdf.h"

namespace {

// Options "incremental", "annotation", "marks"; what the input says; the plan, or part of the refusal's message.
struct PlanCase { const char* name; const char* options; CSignatureFindings found; bool rebuilt, update,
                  annotation; size_t warnings; const char* refusal = nullptr; };
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
class WritePlan : public ::testing::TestWithParam<PlanCase> {};

} // namespace

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
        EXPECT_EQ(plan.update, c.update);
        EXPECT_EQ(plan.annotation, c.annotation);
        EXPECT_EQ(plan.warnings.size(), c.warnings);
    } catch (const CPdfException& e) {
        ASSERT_NE(c.refusal, nullptr) << e.message();
        EXPECT_NE(std::string(e.message()).find(c.refusal), std::string::npos) << e.message();
    }
}
INSTANTIATE_TEST_SUITE_P(Decisions, WritePlan, ::testing::ValuesIn(kPlans), kRowName);
