#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The one exception type of the program. Its message is printed verbatim by
// the entry point, so every message carries its own line breaks. Besides the
// message it says what kind of problem it is, and where, when the thrower
// knows: the object and the byte offset in the file.
class CPdfException {
public:
    // What went wrong, for a report over many files. The first kinds are
    // refusals: the program decided this file cannot be stamped, and running
    // again will not change that. The others are failures: the run could
    // not do its work, for reasons outside the file's content.
    enum class EKind {
        // Refused.
        Damaged,     // the file's bytes cannot be read as a document, even repaired; the default
        NotPdf,      // the file is no PDF at all: no "%PDF-" header and nothing a document needs
        Encrypted,   // it needs a password, or its encryption is damaged or of an unsupported kind
        Permissions, // it opens, but its permissions do not allow changing it
        Unsupported, // it lies beyond the program's limits (a file over 2 GB)
        // Failed.
        InputError,  // the input cannot be opened or read
        OutputError, // an output cannot be created, written or put in place
        ImageError,  // an image to place cannot be read or is not a usable JPEG
        UsageError,  // the command line or a list file cannot be used
        SystemError, // the system refused something the run needs (random bytes, ...)
        Internal,    // a check inside the program failed: a fault of the program, not of the file
    };

    // Damaged, at no known place: what most throws in the reader mean.
    explicit CPdfException(const char* message);
    explicit CPdfException(std::string message);
    CPdfException(EKind kind, std::string message, std::optional<int> object = std::nullopt,
                  std::optional<int64_t> offset = std::nullopt);
    CPdfException(const CPdfException&) = default;
    CPdfException& operator=(const CPdfException&) = default;
    virtual ~CPdfException();

    // The message text; empty when there is none.
    virtual const char* message() const;
    EKind kind() const { return m_kind; }
    // Whether the kind is a refusal rather than a failure (see EKind).
    bool refused() const { return m_kind < EKind::InputError; }
    // The number of the object the problem is in, when known.
    const std::optional<int>& object() const { return m_object; }
    // Where in the file the problem is, counted from the file's first byte, when known.
    const std::optional<int64_t>& offset() const { return m_offset; }

    // This exception with the object and offset filled in where it has none:
    // for an outer reader that knows where an inner one was reading.
    CPdfException at(std::optional<int> object, std::optional<int64_t> offset) const;

    // Builds an exception from a printf-style format, e.g. a message naming a
    // path. Such messages name a file the run could not use: without a kind
    // they count as InputError, a failure, until their thrower says more.
    static CPdfException formatted(const char* format, const std::string& argument);
    static CPdfException formatted(EKind kind, const char* format, const std::string& argument);

private:
    EKind m_kind = EKind::Damaged;
    std::string m_message;
    std::optional<int> m_object;
    std::optional<int64_t> m_offset;
};
