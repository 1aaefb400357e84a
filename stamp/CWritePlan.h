#pragma once

#include <string>
#include <vector>

struct CSignatureFindings;
struct CStampSettings;

// How a run writes its output, decided from the settings and from what the
// input says of its signatures: a full rewrite or an update appended to the
// input, the stamp as page content or as an annotation, and what the run
// warns of.
struct CWritePlan {
    bool update = false;     // an update appended to the input's bytes
    bool annotation = false; // the stamp as a stamp annotation of each page
    std::vector<std::string> warnings;

    // Throws CPdfException with the refusal, naming the input `path`, when
    // the file may not be stamped: its certification forbids it (kind
    // Permissions), or it is to be updated but its cross-reference data was
    // `rebuilt` from a scan (Damaged).
    static CWritePlan decide(const CStampSettings& settings, const CSignatureFindings& found, bool rebuilt,
                             const std::string& path);
};
