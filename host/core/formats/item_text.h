// The plug-in's item text of one contact or appointment ("A=1||B=2") as fields.
// Nothing escapes "||" inside a value, and a value on the phone may hold it (a
// title "Meet||LOCATION=Hacked"): the reader does not take such text for fields.
// It knows the names the plug-in writes and their order, the form of the values it
// writes itself (times, numbers, TRUE/FALSE, the ID), and that a contact's listed
// name is LASTNAME followed by FIRSTNAME and an appointment's listed title is its
// TITLE; among the readings of the text it takes the first that all of this agrees
// with, splitting where it can. (A value holding "||" and a later field's name, in a
// field nothing else on the phone repeats, cannot be told from two fields.)
#ifndef CEBRIDGE_HOST_ITEM_TEXT_H
#define CEBRIDGE_HOST_ITEM_TEXT_H

#include <string>
#include <utility>
#include <vector>

#include "phone_types.h"

namespace host {

using ItemFields = std::vector<std::pair<std::string, std::string>>;

// The fields of `text` (in the phone's code page) in text order, values in the
// terminal's encoding; `listed` is the item as the last listing gave it (its ID and
// title, in the phone's code page).
ItemFields ReadItemText(const std::string &type, const std::string &text, const ContentItem &listed);
// The item text the plug-in adds from `fields` (values in the terminal's encoding), in
// the phone's code page.
std::string ItemText(const ItemFields &fields);

}  // namespace host

#endif  // CEBRIDGE_HOST_ITEM_TEXT_H
