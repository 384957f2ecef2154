// Fuzz entry for pugxml's reader: any bytes are read (with every option, and with
// none) and whatever is accepted is written in both forms. Faults show as crashes or
// sanitizer reports; the unit tests replay the seeds in pugxml_seeds/ through it.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "pugxml.h"

namespace {

void ReadAndWrite(const uint8_t *data, size_t size, uint32_t options) {
    XmlTree tree(options);
    if (!tree.parse(reinterpret_cast<const char *>(data), size)) {
        return;
    }
    std::ostringstream indented;
    indented << tree.document();
    std::ostringstream compact;
    compact.flags(std::ios_base::skipws);
    compact << tree.document();
    // Reading what was written must not fault either.
    XmlTree again;
    const std::string text = compact.str();
    again.parse(text.data(), text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ReadAndWrite(data, size, 0xffff);
    ReadAndWrite(data, size, 0);
    return 0;
}
