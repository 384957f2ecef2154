// pugxml's reader: fills a tree from text.
#include "pugxml.h"

bool XmlTree::parse(const char *text, size_t length, std::string *error) {
    clear();
    if (error != nullptr) {
        *error = "the reader is not available yet";
    }
    return false;
}

bool XmlTree::parse_file(const char *path, std::string *error) { return parse(nullptr, 0, error); }
