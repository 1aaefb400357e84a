#pragma once

#include <string>

class CPdfException;
struct CStampMark;

// Where a run tells what it is doing: the console, and (for batches) a
// report. The job and the passes only call it; how each event reads is the
// reporter's business. Every event does nothing unless overridden, so this
// class itself is the reporter of a run that says nothing.
class CReporter {
public:
    virtual ~CReporter();

    // What the command line asks for that the run does otherwise, or ignores, without the "Warning: " prefix.
    virtual void optionWarning(const std::string& /*text*/) {}
    // The input is read only to count its pages (ranges counted from the end).
    virtual void countingPages(const std::string& /*input*/) {}
    // A file's run begins reading `input`.
    virtual void inputOpened(const std::string& /*input*/) {}
    // The input was read as a PDF, encrypted or not; a refusal for what it allows may follow.
    virtual void inputEncryption(bool /*encrypted*/) {}
    // Its output is begun: `stamp` (as CStampSettings::stampShown names it) is stamped into `output`.
    virtual void outputBegun(const std::string& /*stamp*/, const std::string& /*output*/) {}
    // A dry run is begun: nothing is written to `output`.
    virtual void planBegun(const std::string& /*stamp*/, const std::string& /*output*/) {}
    // A dry run would stamp page `pageNumber` (1-based) with `mark`, in its
    // content or as an `annotation`.
    virtual void pagePlaced(int /*pageNumber*/, const CStampMark& /*mark*/, bool /*annotation*/) {}
    // --list: page `pageNumber` (1-based) carries the stamp `mark`, in its
    // content or as an `annotation`.
    virtual void stampListed(int /*pageNumber*/, const CStampMark& /*mark*/, bool /*annotation*/) {}
    // The run has met `pagesSoFar` pages of the input while writing (progress).
    virtual void pageWritten(int /*pagesSoFar*/) {}
    // The file's stamped pages get the Bates numbers `first` to `last`.
    virtual void batesNumbered(const std::string& /*first*/, const std::string& /*last*/) {}
    // The marks passes over a file wrote their last output.
    virtual void marksWritten(const std::string& /*output*/) {}
    // One thing repaired or worth knowing about the input, without the "Warning: " prefix.
    virtual void warning(const std::string& /*text*/) {}
    // The file is done: written, or (after failed) given up.
    virtual void fileDone() {}
    // The run, or the file, failed with `error`.
    virtual void failed(const CPdfException& /*error*/) {}
};
