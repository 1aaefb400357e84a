#include "stamp/CReporter.h"

CReporter::~CReporter() = default;
