#pragma once

#include <string>

#include "page/CStampSettings.h"

class COutputWriter;
class CPdfFile;

// The optional content group (a layer) a run's stamps are put in: one this
// program made earlier in the file with the same name and use, or a new
// one that the catalog's /OCProperties (made or extended) lists, so that
// viewers offer it and print or show it as `use` says.
class CLayerGroup {
public:
    CLayerGroup(CPdfFile& input, COutputWriter& writer);

    // The group's number: found, or written with the catalog and the
    // objects of its /OCProperties that list it.
    int groupFor(const std::string& name, CStampSettings::ELayerUse use);

    // The text of a group's /VellicoLayer and /VellicoUse, by which it is found again.
    static std::string useName(CStampSettings::ELayerUse use);

private:
    // An existing group of ours of that name and use; 0 when none.
    int findGroup(const std::string& name, CStampSettings::ELayerUse use) const;

    CPdfFile& m_input;
    COutputWriter& m_writer;
};
