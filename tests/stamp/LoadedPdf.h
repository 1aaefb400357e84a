#pragma once
// Shared by the stamp tests: rows named in test names, and real PDF files.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "document/CPageTreeWalker.h"
#include "load/CFileSource.h"
#include "load/CPdfFile.h"
#include "load/CRepairLog.h"
#include "page/CReporter.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestUtil.h"

inline const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

using Box = std::array<float, 4>; // x0 y0 x1 y1
inline const Box kLetter = {0, 0, 612, 792};

// A builder file (catalog 1 names page tree root 2), written out and loaded as a run's input.
class LoadedPdf : public ::testing::Test {
protected:
    LoadedPdf() { b.set(1, "<< /Type /Catalog /Pages 2 0 R >>"), b.setRoot(1); }
    void load(const std::string& bytes)
    {
        vtest::writeFile(path, bytes);
        doc = std::make_unique<CPdfFile>(CFileSource::open(path), repairs);
    }
    void walk() { load(b.build()), pageCount = CPageTreeWalker(doc->reader()).walkDocument(pages); }
    vtest::PdfBuilder b;
    vtest::TempDir dir;
    const std::string path = dir.file("in.pdf");
    CRepairLog repairs;
    std::unique_ptr<CPdfFile> doc;
    std::vector<CPageRecord> pages;
    int pageCount = 0;
};
