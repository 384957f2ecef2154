// Reads the XML documents the plug-in answers with (capability, folder listing,
// contents listing) into a small element tree. The plug-in writes texts unescaped
// (a title may hold '<', '&', "]]>" or a whole tag), puts a line end before every
// word that starts with '<' and joins other words with one space, and splices its
// DTD text after the declaration and after any word holding "?>". So the reader
// knows which elements each document has and which hold text: everything between a
// text element's tags, up to an end tag that what follows it confirms, is text.
#ifndef CEBRIDGE_HOST_XML_ANSWER_H
#define CEBRIDGE_HOST_XML_ANSWER_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "outcome.h"

namespace host {

struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<XmlElement> children;

    std::string Attribute(const std::string &key) const;
    const XmlElement *Child(const std::string &childName) const;
    std::string ChildText(const std::string &childName) const;
    std::vector<const XmlElement *> ChildrenNamed(const std::string &childName) const;
};

// The document's root element; a failure names what is wrong when the text is not a
// document this reader understands. With `eachTopChild`, each child of the root is
// handed over as soon as it is read instead of kept in the root (a listing may hold
// 100,000 of them); on a failure some may have been handed over already.
Outcome ParseXmlAnswer(const std::string &text, XmlElement *root,
                       const std::function<void(XmlElement &&)> &eachTopChild = {});

}  // namespace host

#endif  // CEBRIDGE_HOST_XML_ANSWER_H
