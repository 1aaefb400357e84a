#pragma once

#include <string_view>

// The PDF/A part an XMP packet claims: its pdfaid:part property (in the
// http://www.aiim.org/pdfa/ns/id/ namespace, under whatever prefix the
// packet binds it to), written as an attribute or as an element. 0 when it
// claims none, or the XML is too damaged to tell.
int pdfaPartOf(std::string_view xmp);
