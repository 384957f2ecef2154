// Helpers shared by the pugxml tests: writing a node in either form.
#ifndef CEBRIDGE_TESTS_PUGXML_SUPPORT_H
#define CEBRIDGE_TESTS_PUGXML_SUPPORT_H

#include <sstream>
#include <string>

#include "xml/pugxml.h"

// The indented form: what a fresh stream receives.
inline std::string Indented(XmlNodeRef node) {
    std::ostringstream stream;
    stream << node;
    return stream.str();
}

// The compact form: a stream whose flags hold only skip-whitespace.
inline std::string Compact(XmlNodeRef node) {
    std::ostringstream stream;
    stream.flags(std::ios_base::skipws);
    stream << node;
    return stream.str();
}

// Adds an element named `name`; with `text`, also its one Text child.
inline XmlNodeRef AddElement(XmlNodeRef parent, const char *name, const char *text = nullptr) {
    XmlNodeRef element = parent.add_child(node_element);
    element.set_name(name);
    if (text != nullptr) {
        element.add_child(node_pcdata).set_value(text);
    }
    return element;
}

// Adds a record of any kind below `parent`, bypassing the building rules (the reader
// makes such records; builders cannot).
inline XmlNodeRecord *AddRecord(XmlNodeRecord *parent, XmlNodeKind kind, const char *name = nullptr,
                                const char *value = nullptr) {
    XmlNodeRecord *record = create_record(kind, parent);
    if (name != nullptr) {
        record->name = record->arena->copy(name);
    }
    if (value != nullptr) {
        record->value = record->arena->copy(value);
    }
    append_child(parent, record);
    return record;
}

// An attribute record with either text missing, which builders cannot make.
inline XmlAttributeRecord *AddAttributeRecord(XmlNodeRecord *node, const char *name, const char *value) {
    XmlAttributeRecord *attribute = create_attribute(node);
    if (name != nullptr) {
        attribute->name = node->arena->copy(name);
    }
    if (value != nullptr) {
        attribute->value = node->arena->copy(value);
    }
    append_attribute(node, attribute);
    return attribute;
}

#endif  // CEBRIDGE_TESTS_PUGXML_SUPPORT_H
