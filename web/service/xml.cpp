// xml.cpp: the XML writer over libxml2's xmlTextWriter.
#include "service/xml.h"

#include <libxml/xmlwriter.h>

#include <new>

#include "kcommon/big5.h"

namespace kserve {

namespace {
const xmlChar* x(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}
}  // namespace

struct XmlWriter::Impl {
    xmlBufferPtr buffer = nullptr;
    xmlTextWriterPtr writer = nullptr;
};

XmlWriter::XmlWriter() : impl_(new Impl) {
    impl_->buffer = xmlBufferCreate();
    impl_->writer = impl_->buffer ? xmlNewTextWriterMemory(impl_->buffer, 0) : nullptr;
    if (!impl_->writer || xmlTextWriterStartDocument(impl_->writer, "1.0", "UTF-8", nullptr) < 0) {
        if (impl_->writer) xmlFreeTextWriter(impl_->writer);
        if (impl_->buffer) xmlBufferFree(impl_->buffer);
        delete impl_;
        throw std::bad_alloc();
    }
}

XmlWriter::~XmlWriter() {
    if (impl_->writer) xmlFreeTextWriter(impl_->writer);
    xmlBufferFree(impl_->buffer);
    delete impl_;
}

XmlWriter& XmlWriter::doctype(const char* root, const char* system) {
    xmlTextWriterWriteDTD(impl_->writer, x(root), nullptr, x(system), nullptr);
    xmlTextWriterWriteRaw(impl_->writer, x("\n"));
    return *this;
}

XmlWriter& XmlWriter::open(const char* name) {
    xmlTextWriterStartElement(impl_->writer, x(name));
    return *this;
}

XmlWriter& XmlWriter::attribute(const char* name, std::string_view value) {
    const std::string v = xml_text(value);
    xmlTextWriterWriteAttribute(impl_->writer, x(name), x(v.c_str()));
    return *this;
}

XmlWriter& XmlWriter::text(std::string_view text) {
    const std::string t = xml_text(text);
    xmlTextWriterWriteString(impl_->writer, x(t.c_str()));
    return *this;
}

XmlWriter& XmlWriter::layout(std::string_view blanks) {
    const std::string b(blanks);
    xmlTextWriterWriteRaw(impl_->writer, x(b.c_str()));
    return *this;
}

XmlWriter& XmlWriter::close() {
    xmlTextWriterEndElement(impl_->writer);
    return *this;
}

XmlWriter& XmlWriter::close_full() {
    xmlTextWriterFullEndElement(impl_->writer);
    return *this;
}

XmlWriter& XmlWriter::element(const char* name, std::string_view text) {
    return open(name).text(text).close_full();
}

std::string XmlWriter::finish() {
    xmlTextWriterEndDocument(impl_->writer);  // closes what is open, ends with a line break
    xmlFreeTextWriter(impl_->writer);         // flushes into the buffer
    impl_->writer = nullptr;
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(impl_->buffer)),
                       static_cast<size_t>(xmlBufferLength(impl_->buffer)));
}

std::string xml_text(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t start = i;
        char32_t c = 0;
        if (!kcommon::utf8_next(s, i, c) || c == 0xFFFE || c == 0xFFFF) {
            kcommon::utf8_append(out, 0xFFFD);
        } else if (c < 0x20 && c != '\t' && c != '\n') {
            out += ' ';
        } else {
            out.append(s, start, i - start);
        }
    }
    return out;
}

std::string html_escape(const std::string& s) {
    std::string o;
    for (char c : xml_text(s)) {
        switch (c) {
            case '&':
                o += "&amp;";
                break;
            case '<':
                o += "&lt;";
                break;
            case '>':
                o += "&gt;";
                break;
            case '"':
                o += "&quot;";
                break;
            case '\'':
                o += "&apos;";
                break;
            default:
                o += c;
        }
    }
    return o;
}

}  // namespace kserve
