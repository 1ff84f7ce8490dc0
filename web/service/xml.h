// xml.h: XML documents written with libxml2's text writer, which escapes every attribute and
// text; the layout (line breaks and indentation) is written as given, so documents keep the
// form clients have seen.
#ifndef KSERVE_XML_H
#define KSERVE_XML_H

#include <string>
#include <string_view>

namespace kserve {

class XmlWriter {
  public:
    // Starts a document: the XML declaration (version 1.0, UTF-8) and a line break.
    XmlWriter();
    ~XmlWriter();
    XmlWriter(const XmlWriter&) = delete;
    XmlWriter& operator=(const XmlWriter&) = delete;

    // <!DOCTYPE root SYSTEM "system"> and a line break.
    XmlWriter& doctype(const char* root, const char* system);
    // Opens an element; attributes follow until its content.
    XmlWriter& open(const char* name);
    XmlWriter& attribute(const char* name, std::string_view value);
    // Text content (see xml_text).
    XmlWriter& text(std::string_view text);
    // Layout between elements: line breaks and blanks only.
    XmlWriter& layout(std::string_view blanks);
    // Closes the element opened last: <x/> when it has no content.
    XmlWriter& close();
    // Closes the element opened last with an end tag, also when it has no content.
    XmlWriter& close_full();
    // <name>text</name>
    XmlWriter& element(const char* name, std::string_view text);
    // Closes every open element and returns the document.
    std::string finish();

  private:
    struct Impl;
    Impl* impl_;
};

// `s` made fit for XML text: a byte sequence that is no UTF-8 becomes U+FFFD, a control
// character other than a tab or line break a blank.
std::string xml_text(std::string_view s);

// `s` made fit for the text or an attribute value of an HTML page: xml_text, then & < > " '
// escaped.
std::string html_escape(const std::string& s);

}  // namespace kserve

#endif
