// The host's core: the agent as a library, for every front end (the command line,
// `cebridge serve`, tests). It prints nothing: results are values, and the plug-in's own
// printing goes to the log (console.h). What it offers, by header:
//
//   phone_session.h     one phone as a front end holds it: connect, the write lock, folders
//   phone_worker.h      one thread that runs the operations of many callers on one session
//   progress_sink.h     what a long operation reports while it runs; how it is cancelled
//   agent_client.h      loads the plug-in and drives it through its four exports
//   device_link.h       the phone's operations in the plug-in's protocol, outcomes as data
//   xml_answer.h        the plug-in's XML answers (written unescaped) read as a tree
//   store_evidence.h    whether the phone's PIM store was readable: its listings judged
//                       by the plug-in's log and the connect
//   item_text.h         a contact's or appointment's item text as fields
//   pim_items.h         the fields an add may name, calls' parties, a box's messages
//   pim_operations.h    contacts, calendar, calls and messages listed, shown, added and
//                       removed; their results' JSON for every front end
//   interop.h           contacts, calendar, calls and messages exported and imported
//                       as vCard, iCalendar, CSV and JSON files; their results' JSON
//   phone_keeps.h       what the phone keeps of a value (widths, code page, shared fields)
//   vcard.h, icalendar.h, content_line.h, appointment_time.h
//                       contacts and appointments as PC files, times both ways
//   encoding.h          the phone's code page and the PC's UTF-8, converters per thread
//   local_files.h       the PC side of transfers: download targets, upload sources
//   file_tree.h         walking phone folders, wildcards, copying many files whole
//   phone_files.h       typed names checked, a file found, a selection of files, removing it
//   phone_operations.h  the single operations and their JSON: info, ls, mkdir, rm, one
//                       file's get and put, apps, install
//   safeguards.h        per-phone and per-path locks, the kept original of a replace
//   backup.h            backup, verify, list and restore of a whole phone
//   backup_folder.h     backup generations, their manifest, SHA-256 digests (sha256.h)
//   sync.h              two-way sync of contacts and calendar with PC folders; its sides
//                       (sync_sides.h) and its state in SQLite (sync_state.h)
//   pc_setup.h          the DTD files, SAPATH and the plug-in's place on this PC
//   console.h           the host's own standard streams, apart from the plug-in's
#ifndef CEBRIDGE_HOST_CORE_H
#define CEBRIDGE_HOST_CORE_H

#include "agent_client.h"
#include "appointment_time.h"
#include "backup.h"
#include "backup_folder.h"
#include "console.h"
#include "content_line.h"
#include "device_link.h"
#include "encoding.h"
#include "file_tree.h"
#include "icalendar.h"
#include "interop.h"
#include "item_text.h"
#include "local_files.h"
#include "pc_setup.h"
#include "phone_files.h"
#include "phone_keeps.h"
#include "phone_operations.h"
#include "phone_session.h"
#include "phone_worker.h"
#include "pim_items.h"
#include "pim_operations.h"
#include "progress_sink.h"
#include "safeguards.h"
#include "sha256.h"
#include "store_evidence.h"
#if defined(CEBRIDGE_HAVE_SYNC)
#include "sync.h"
#endif
#include "vcard.h"
#include "xml_answer.h"

#endif  // CEBRIDGE_HOST_CORE_H
