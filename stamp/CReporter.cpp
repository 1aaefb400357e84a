#include "stamp/CReporter.h"

CReporter::~CReporter() = default;

void CReporter::planBegun(const std::string&, const std::string&) {}

void CReporter::pagePlaced(int, const CStampRect&) {}
