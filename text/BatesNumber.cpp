#include "text/BatesNumber.h"

#include "page/CStampSettings.h"

std::string batesNumber(const CStampSettings& settings, int64_t number)
{
    const std::string digits = std::to_string(number);
    const size_t padding = digits.size() < static_cast<size_t>(settings.batesDigits)
                               ? static_cast<size_t>(settings.batesDigits) - digits.size()
                               : 0;
    return settings.batesPrefix + std::string(padding, '0') + digits + settings.batesSuffix;
}

bool outgrowsBatesDigits(const CStampSettings& settings, int64_t number)
{
    return std::to_string(number).size() > static_cast<size_t>(settings.batesDigits);
}
