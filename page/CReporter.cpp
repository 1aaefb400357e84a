#include "page/CReporter.h"

CReporter::~CReporter() = default;
