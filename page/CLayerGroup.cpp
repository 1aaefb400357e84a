#include "page/CLayerGroup.h"

#include "document/CObjectEdits.h"
#include "load/CObjectReader.h"
#include "load/CPdfFile.h"
#include "load/CXrefTable.h"
#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfException.h"
#include "pdf/CPdfObjectHead.h"
#include "pdf/PdfFormat.h"
#include "pdf/PdfTextString.h"
#include "write/COutputWriter.h"

namespace {

// Whether the file's default configuration has its groups off unless listed on (/BaseState /OFF).
bool groupsStartOff(CPdfFile& input)
{
    try {
        CPdfObject catalog, properties, defaults, base;
        input.xref().fetchObjectOrNull(input.xref().rootNum(), input.xref().rootGen(), catalog);
        if (catalog.type() == PDF_DICT)
            catalog.dictValue()->getValue("OCProperties", properties);
        if (properties.type() == PDF_DICT)
            properties.dictValue()->getValue("D", defaults);
        if (defaults.type() == PDF_DICT)
            defaults.dictValue()->getValue("BaseState", base);
        return base.type() == PDF_NAME && base.textString() == "OFF";
    } catch (const CPdfException&) {
        return false;
    }
}

} // namespace

CLayerGroup::CLayerGroup(CPdfFile& input, COutputWriter& writer) : m_input(input), m_writer(writer) {}

std::string CLayerGroup::useName(CStampSettings::ELayerUse use)
{
    return use == CStampSettings::ELayerUse::PrintOnly    ? "PrintOnly"
           : use == CStampSettings::ELayerUse::ScreenOnly ? "ScreenOnly"
                                                          : "Always";
}

int CLayerGroup::findGroup(const std::string& name, CStampSettings::ELayerUse use) const
{
    CXrefTable& xref = m_input.xref();
    try {
        CPdfObject catalog, properties, groups;
        xref.fetchObjectOrNull(xref.rootNum(), xref.rootGen(), catalog);
        if (catalog.type() != PDF_DICT)
            return 0;
        catalog.dictValue()->getValue("OCProperties", properties);
        if (properties.type() != PDF_DICT)
            return 0;
        properties.dictValue()->getValue("OCGs", groups);
        if (groups.type() != PDF_ARRAY)
            return 0;
        for (int i = 0; i < groups.arrayValue()->count(); ++i) {
            CPdfObject ref, group, layer, shown;
            groups.arrayValue()->getItemUnresolved(i, ref);
            groups.arrayValue()->getItem(i, group);
            if (ref.type() != PDF_REF || group.type() != PDF_DICT)
                continue;
            group.dictValue()->getValue("VellicoLayer", layer);
            group.dictValue()->getValue("VellicoUse", shown);
            if (layer.type() == PDF_NAME && layer.textString() == name && shown.type() == PDF_NAME &&
                shown.textString() == useName(use))
                return ref.refNum();
        }
    } catch (const CPdfException&) {
        // A group that cannot be read is none of ours.
    }
    return 0;
}

int CLayerGroup::groupFor(const std::string& name, CStampSettings::ELayerUse use)
{
    if (const int found = findGroup(name, use))
        return found;
    CXrefTable& xref = m_input.xref();
    const int root = xref.rootNum();
    CObjectEdits edits(m_input);
    CObjectEdits::CPlace catalog;
    if (!edits.dictOf(root, catalog))
        throw CPdfException(CPdfException::EKind::Damaged,
                            "\nThe catalog cannot be read, so no layer can be added to it\n");

    const int group = m_writer.nextNumber();
    std::string body = " 0 obj\n<<\n/Type /OCG\n/Name " + hexString(m_writer.stringFor(group, utf8ToTextString(name))) +
                       "\n/VellicoLayer " + nameText(name) + "\n/VellicoUse /" + useName(use) + "\n";
    if (use == CStampSettings::ELayerUse::PrintOnly)
        body += "/Usage << /Print << /PrintState /ON >> /View << /ViewState /OFF >> >>\n";
    else if (use == CStampSettings::ELayerUse::ScreenOnly)
        body += "/Usage << /Print << /PrintState /OFF >> /View << /ViewState /ON >> >>\n";
    if (m_writer.writeNewObject(body + ">>") != group)
        throw CPdfException(CPdfException::EKind::Internal, "Unexpected object number");

    const std::string ref = referenceText("", group, " 0 R");
    const std::string automatic = "<< /Event /View /OCGs [" + ref + "] /Category [/View] >> << /Event /Print /OCGs [" +
                                  ref + "] /Category [/Print] >>";
    const bool hidden = use == CStampSettings::ELayerUse::PrintOnly; // as shown by a viewer that ignores /Usage
    CObjectEdits::CPlace properties, defaults;
    if (!edits.dictAt(catalog, "OCProperties", properties)) {
        std::string entry = "/OCProperties << /OCGs [" + ref + "] /D << /Order [" + ref + "]";
        if (hidden)
            entry += " /OFF [" + ref + "]";
        if (use != CStampSettings::ELayerUse::Always)
            entry += " /AS [" + automatic + "]";
        edits.insertInto(catalog, entry + " >> >> ");
    } else {
        edits.appendTo(properties, "OCGs", ref, true);
        if (!edits.dictAt(properties, "D", defaults)) {
            edits.insertInto(properties, "/D << /Order [" + ref + "]" + (hidden ? " /OFF [" + ref + "]" : "") + " >> ");
        } else {
            // Listed where the viewer lists the file's layers; its state by the file's default.
            edits.appendTo(defaults, "Order", ref, false);
            const bool baseOff = groupsStartOff(m_input);
            if (hidden && !baseOff)
                edits.appendTo(defaults, "OFF", ref, true);
            else if (!hidden && baseOff)
                edits.appendTo(defaults, "ON", ref, true);
            if (use != CStampSettings::ELayerUse::Always)
                edits.appendTo(defaults, "AS", automatic, true);
        }
    }
    for (const auto& [num, text] : edits.texts()) {
        m_writer.writeChangedObject(num, xref.records()[static_cast<size_t>(num)].objectGen(), text);
        if (num == root)
            m_writer.catalogRewritten(text);
    }
    return group;
}
