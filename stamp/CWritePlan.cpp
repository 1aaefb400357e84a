#include "stamp/CWritePlan.h"

#include "document/CSignatureCheck.h"
#include "page/CStampSettings.h"
#include "pdf/CPdfException.h"

CWritePlan CWritePlan::decide(const CStampSettings& settings, const CSignatureFindings& found, bool rebuilt,
                              const std::string& path)
{
    CWritePlan plan;
    plan.update = settings.incremental;
    plan.annotation = settings.annotation;
    if (settings.annotation && settings.marks())
        throw CPdfException(CPdfException::EKind::UsageError,
                            "\n--annotation does not go with -crop_marks or -trim_marks: marks are page content\n");

    plan.warnings = found.doubts;
    if (found.certification == 1 || found.certification == 2)
        throw CPdfException::formatted(
            CPdfException::EKind::Permissions,
            found.certification == 1
                ? "\nPDF file is certified, and its certification (no changes) forbids changing the pages: '%s'\n"
                : "\nPDF file is certified, and its certification (form filling and signing only) forbids changing "
                  "the pages: '%s'\n",
            path);
    if (found.certification == 3) {
        if (!settings.layer.empty())
            throw CPdfException::formatted(CPdfException::EKind::Permissions,
                                           "\nPDF file is certified, and its certification allows annotations only; a "
                                           "layer is listed in the catalog, which it forbids changing: '%s'\n",
                                           path);
        if (settings.marks() || settings.underlay)
            throw CPdfException::formatted(CPdfException::EKind::Permissions,
                                           settings.marks()
                                               ? "\nPDF file is certified, and its certification allows annotations "
                                                 "only; marks are page content, so they cannot be added: '%s'\n"
                                               : "\nPDF file is certified, and its certification allows annotations "
                                                 "only; an underlay is page content, so it cannot be added: '%s'\n",
                                           path);
        plan.update = true;
        plan.annotation = true;
        plan.warnings.push_back("the file is certified to allow annotations only; the stamp is added as a stamp "
                                "annotation in an incremental update, which keeps the certification valid");
    } else if (found.isSigned()) {
        plan.update = true;
        plan.warnings.push_back("the file is signed; stamped by an incremental update, which keeps its signatures "
                                "valid for the revisions they sign");
    } else if (found.appendOnly) {
        plan.update = true;
        plan.warnings.push_back("the form asks that changes be appended (/SigFlags AppendOnly); stamped by an "
                                "incremental update");
    }
    // A rebuilt table lists objects no section of the file lists: an update
    // would lead readers back to the sections that could not be read.
    if (plan.update && rebuilt) {
        if (found.isSigned() || found.certification > 0)
            throw CPdfException::formatted(CPdfException::EKind::Damaged,
                                           "\nPDF file is signed, but its cross-reference data is damaged and was "
                                           "rebuilt, so it cannot be updated incrementally: its signatures could not "
                                           "be kept: '%s'\n",
                                           path);
        throw CPdfException::formatted(CPdfException::EKind::Damaged,
                                       "\nPDF file's cross-reference data is damaged and was rebuilt, so it cannot "
                                       "be updated incrementally: '%s'\n",
                                       path);
    }
    return plan;
}
