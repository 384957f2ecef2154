// Renaming a phone file. The link has no rename: the file is copied under the new
// name, the copy is read back and compared byte for byte with the original, and only
// then is the original removed. Folders are not renamed: the link cannot remove one,
// so a renamed folder would leave its old one behind.
#ifndef CEBRIDGE_HOST_PHONE_RENAME_H
#define CEBRIDGE_HOST_PHONE_RENAME_H

#include <string>
#include <vector>

#include "device_link.h"
#include "progress_sink.h"

namespace host {

// The phone file `path` (proven to be the file named, see NameForChange) becomes
// `newName` in the same folder. Refused with nothing changed (kBadInput) when another
// file holds the new name (also one that differs in letter case alone), when either
// name cannot be carried whole, or in the system folder. What an earlier rename of
// the same file left at the new name when a failure stopped it (a first part of the
// file, or all of it with the original kept) is finished, so a rename again converges.
// A copy that does not read back as the original is removed again, the original left
// as it was. `renamed` gets the new path. The copy carries the time of its upload:
// the link sets no file times.
Outcome RenamePhoneFile(DeviceLink &link, const std::vector<std::string> &path, const std::string &newName,
                        TransferSink &sink, std::vector<std::string> *renamed);

}  // namespace host

#endif  // CEBRIDGE_HOST_PHONE_RENAME_H
