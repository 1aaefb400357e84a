#pragma once

class CStampJob;

// Parses the settings and stamps one input file: one pass, or with
// "-trim_marks" / "-crop_marks" eight chained passes that draw a printer's
// mark at each corner of every selected page. Throws CPdfException.
void processFile(CStampJob& job, int argumentCount, const char* const* arguments);
