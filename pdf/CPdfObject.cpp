#include "pdf/CPdfObject.h"

#include <cstring>
#include <utility>

#include "pdf/CPdfArray.h"
#include "pdf/CPdfDict.h"
#include "pdf/CPdfResolver.h"
#include "pdf/CPdfStream.h"

CPdfObject::CPdfObject(const CPdfObject& other) { assign(other); }

CPdfObject::CPdfObject(CPdfObject&& other) noexcept { takeFrom(other); }

CPdfObject& CPdfObject::operator=(const CPdfObject& other)
{
    assign(other);
    return *this;
}

CPdfObject& CPdfObject::operator=(CPdfObject&& other) noexcept
{
    if (this != &other) {
        clear();
        takeFrom(other);
    }
    return *this;
}

void CPdfObject::takeFrom(CPdfObject& other) noexcept
{
    // Steals the payload (and with it the reference) and leaves `other` empty.
    // Only texts live in m_text, which is empty for every other kind.
    m_type = other.m_type;
    m_u = other.m_u;
    if (m_type == PDF_STRING || m_type == PDF_NAME || m_type == PDF_CMD) {
        m_text = std::move(other.m_text);
        other.m_text.clear();
    }
    other.m_type = PDF_NONE;
}

CPdfObject::~CPdfObject() { clear(); }

bool CPdfObject::isKeyword(const char* keyword) const
{
    // The first byte settles almost every comparison the parser makes.
    return m_type == PDF_CMD && m_text[0] == keyword[0] && std::strcmp(m_text.c_str(), keyword) == 0;
}

double CPdfObject::numberValue() const
{
    if (m_type == PDF_INT)
        return m_u.integer;
    if (m_type == PDF_REAL)
        return m_u.real;
    return 0.0;
}

void CPdfObject::setBool(bool value)
{
    clear();
    m_type = PDF_BOOL;
    m_u.boolean = value;
}

void CPdfObject::setInt(int value)
{
    clear();
    m_type = PDF_INT;
    m_u.integer = value;
}

void CPdfObject::setReal(double value)
{
    clear();
    m_type = PDF_REAL;
    m_u.real = value;
}

void CPdfObject::setText(EPdfType type, const char* text, size_t length)
{
    clear();
    m_type = type;
    // Texts are NUL-terminated: a NUL byte ends the value.
    const void* nul = std::memchr(text, '\0', length);
    m_text.assign(text, nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length);
}

void CPdfObject::setStringBytes(const char* bytes, size_t length)
{
    clear();
    m_type = PDF_STRING;
    m_text.assign(bytes, length);
}

void CPdfObject::setName(const std::string& text) { setText(PDF_NAME, text.data(), text.size()); }

void CPdfObject::setNull()
{
    clear();
    m_type = PDF_NULL;
}

void CPdfObject::setError()
{
    clear();
    m_type = PDF_ERROR;
}

void CPdfObject::setEof()
{
    clear();
    m_type = PDF_EOF;
}

void CPdfObject::setRef(int num, int gen)
{
    clear();
    m_type = PDF_REF;
    m_u.ref.num = num;
    m_u.ref.gen = gen;
}

CPdfArray* CPdfObject::setNewArray(CPdfResolver* table)
{
    clear();
    m_u.array = new CPdfArray(table);
    m_type = PDF_ARRAY;
    return m_u.array;
}

CPdfDict* CPdfObject::setNewDict(CPdfResolver* table)
{
    clear();
    m_u.dict = new CPdfDict(table);
    m_type = PDF_DICT;
    return m_u.dict;
}

void CPdfObject::setSharedDict(CPdfDict* dict)
{
    clear();
    dict->addRef();
    m_u.dict = dict;
    m_type = PDF_DICT;
}

void CPdfObject::setStream(CPdfStream* stream)
{
    clear();
    stream->addRef();
    m_u.stream = stream;
    m_type = PDF_STREAM;
}

void CPdfObject::assign(const CPdfObject& source)
{
    if (this == &source)
        return;
    clear();
    switch (source.m_type) {
    case PDF_STRING:
    case PDF_NAME:
    case PDF_CMD:
        m_text = source.m_text;
        break;
    case PDF_ARRAY:
        source.m_u.array->addRef();
        break;
    case PDF_DICT:
        source.m_u.dict->addRef();
        break;
    case PDF_STREAM:
        source.m_u.stream->addRef();
        break;
    default:
        break;
    }
    m_u = source.m_u;
    m_type = source.m_type;
}

void CPdfObject::clear()
{
    switch (m_type) {
    case PDF_ARRAY:
        m_u.array->release();
        break;
    case PDF_DICT:
        m_u.dict->release();
        break;
    case PDF_STREAM:
        m_u.stream->release();
        break;
    case PDF_STRING:
    case PDF_NAME:
    case PDF_CMD:
        m_text.clear();
        break;
    default:
        break;
    }
    m_type = PDF_NONE;
}

void CPdfObject::resolve(CPdfResolver* table, CPdfObject& out) const
{
    out.clear();
    if (m_type == PDF_REF && table)
        table->fetchObject(m_u.ref.num, m_u.ref.gen, out);
    else
        out.assign(*this);
}
