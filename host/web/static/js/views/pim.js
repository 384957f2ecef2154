// Contacts and calendar: a searchable list, one item's fields, add and delete;
// calls, messages and apps as lists.
import { api, downloadLink, el, showing } from '../api.js';
import { listen } from '../events.js';

const localTime = (stamp) => (stamp ? new Date(stamp).toLocaleString([], { dateStyle: 'medium', timeStyle: 'short' }) : '');
// A whole day ("2026-12-12") in the page's locale, as that calendar day wherever the browser is.
const localDay = (day) => {
  const [year, month, date] = day.slice(0, 10).split('-').map(Number);
  return new Date(year, month - 1, date).toLocaleDateString([], { dateStyle: 'medium' });
};
// A time the browser took in its own zone, as the UTC form the phone's add takes.
const utcStamp = (local) => new Date(local).toISOString().replace(/[-:]/g, '').replace(/\.\d+Z$/, 'Z');

// The phone's field names as people read them; a name not here is shown as it is.
const fieldNames = {
  FIRSTNAME: 'First name', LASTNAME: 'Last name', NICKNAME: 'Nickname', TITLE: 'Title', SUFFIX: 'Suffix',
  COMPANYNAME: 'Company', DEPARTMENT: 'Department', JOBTITLE: 'Job title', OFFICELOCATION: 'Office',
  MOBILETELEPHONENUMBER: 'Mobile', HOMETELEPHONENUMBER: 'Home phone', HOME2TELEPHONENUMBER: 'Home phone 2',
  BUSINESSTELEPHONENUMBER: 'Work phone', BUSINESS2TELEPHONENUMBER: 'Work phone 2', BUSINESSFAXNUMBER: 'Work fax',
  CARTELEPHONENUMBER: 'Car phone', PAGERNUMBER: 'Pager', RADIOTELEPHONENUMBER: 'Radio phone',
  ASSISTANTNAME: 'Assistant', ASSISTANTTELEPHONENUMBER: "Assistant's phone", MANAGER: 'Manager',
  EMAIL1ADDRESS: 'E-mail', EMAIL2ADDRESS: 'E-mail 2', EMAIL3ADDRESS: 'E-mail 3', IM1ADDRESS: 'Instant messaging',
  WEBPAGE: 'Web page', BIRTHDAY: 'Birthday', ANNIVERSARY: 'Anniversary', SPOUSE: 'Spouse', CHILDREN: 'Children',
  GOVERNMENTID: 'Government ID', CATEGORIES: 'Categories', BODY: 'Notes',
  HOMEADDRESSSTREET: 'Home street', HOMEADDRESSCITY: 'Home city', HOMEADDRESSSTATE: 'Home state',
  HOMEADDRESSPOSTALCODE: 'Home postal code', HOMEADDRESSCOUNTRY: 'Home country',
  BUSINESSADDRESSSTREET: 'Work street', BUSINESSADDRESSCITY: 'Work city', BUSINESSADDRESSSTATE: 'Work state',
  BUSINESSADDRESSPOSTALCODE: 'Work postal code', BUSINESSADDRESSCOUNTRY: 'Work country',
  OTHERADDRESSSTREET: 'Other street', OTHERADDRESSCITY: 'Other city', OTHERADDRESSSTATE: 'Other state',
  OTHERADDRESSPOSTALCODE: 'Other postal code', OTHERADDRESSCOUNTRY: 'Other country',
  LOCATION: 'Location', STARTTIME: 'Starts', ENDTIME: 'Ends', DURATION: 'Minutes', WHOLEDAY: 'All day',
};
// A field's value as people read it: booleans as yes or no, times in the page's
// locale and zone as the lists show them (the phone's YYYYMMDDTHHMMSSZ or ISO), and
// days (a whole day, a birthday) as that calendar day wherever the browser is.
function fieldValue(name, value) {
  if (name === 'WHOLEDAY') return /^(1|true)$/i.test(value) ? 'yes' : 'no';
  const compact = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})Z$/.exec(value);
  const time = compact ? compact[1] + '-' + compact[2] + '-' + compact[3] + 'T' + compact[4] + ':' + compact[5] + ':' +
    compact[6] + 'Z' : value;
  if (/^\d{4}-\d{2}-\d{2}$/.test(time)) return localDay(time);
  if (!/^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}(:\d{2})?(Z|[+-]\d{2}:\d{2})$/.test(time)) return value;
  return name === 'BIRTHDAY' || name === 'ANNIVERSARY' ? localDay(time) : localTime(time);
}

// Contact fields the phone's add cannot write: an edit (an add of the new item) keeps
// them only by being refused, unless the user lets them go.
const contactReadOnly = ['ANNIVERSARY', 'BIRTHDAY', 'BODY', 'CARTELEPHONENUMBER', 'CATEGORIES',
  'COMPANYTELEPHONENUMBER', 'SUFFIX', 'TITLE'];
// The read's one field for the nickname or ID number (one phone property holds either).
const sharedName = 'NICKNAME/GOVERNMENTID';
fieldNames[sharedName] = 'Nickname or ID';
// Fields in the order people read them (names first), the unknown ones last.
const fieldRank = (name) => {
  const rank = Object.keys(fieldNames).indexOf(name);
  return rank < 0 ? Infinity : rank;
};
const inFieldOrder = (names) => [...names].sort((a, b) => fieldRank(a) - fieldRank(b));
const count = (n, one, many) => n + ' ' + (n === 1 ? one : many);
const pad = (n) => String(n).padStart(2, '0');
// An ISO time as the value of a datetime-local input, in the browser's zone.
const localInput = (iso) => {
  const t = new Date(iso);
  return t.getFullYear() + '-' + pad(t.getMonth() + 1) + '-' + pad(t.getDate()) + 'T' + pad(t.getHours()) + ':' +
    pad(t.getMinutes());
};

// The form that edits one contact or appointment: each field it shows, changed ones
// sent (the server keeps the others), and each field the add cannot write offered to
// be let go. `done` gets the server's answer.
function editForm(kind, item, fields, addFields, done) {
  const appointment = kind === 'calendar';
  const wholeDay = /^true$/i.test(fields.WHOLEDAY || '');
  const original = {};
  const inputs = [], letGo = [];
  const names = inFieldOrder([...Object.keys(fields), ...addFields.map(([field]) => field)])
    .filter((name, i, all) => all.indexOf(name) === i && name !== 'ID' && !(appointment && name === 'ENDTIME'));
  for (const name of names) {
    const value = fields[name] || '';
    const label = fieldNames[name] || name;
    if (!appointment && contactReadOnly.includes(name)) {
      letGo.push(el('label', { class: 'letgo' }, el('input', { type: 'checkbox', name: 'letgo:' + name }),
        'Let go of ' + label + ' (' + fieldValue(name, value) + '): the phone cannot write it anew'));
      continue;
    }
    let input;
    if (name === 'WHOLEDAY') input = el('input', { type: 'checkbox', name, checked: wholeDay });
    else if (name === 'STARTTIME') {
      input = el('input', { name, type: wholeDay ? 'date' : 'datetime-local', required: true,
        value: wholeDay ? value : localInput(value) });
    } else input = el('input', { name, type: name === 'DURATION' ? 'number' : 'text', value });
    original[name] = input.type === 'checkbox' ? input.checked : input.value;
    inputs.push(el('label', {}, label + ' ', input));
  }
  const form = el('form', { class: 'edit', 'aria-label': 'Edit ' + item.title, onsubmit: async () => {
    const changed = {};
    for (const [name, was] of Object.entries(original)) {
      const input = form.elements[name];
      const now = input.type === 'checkbox' ? input.checked : input.value.trim();
      if (now !== was) changed[name] = name === 'WHOLEDAY' ? (now ? 'TRUE' : 'FALSE') : now;
    }
    if (appointment && ('STARTTIME' in changed || 'WHOLEDAY' in changed)) {
      const start = form.elements.STARTTIME.value;
      changed.STARTTIME = form.elements.WHOLEDAY && form.elements.WHOLEDAY.checked ? start.slice(0, 10)
        : start.length > 10 ? utcStamp(start) : start;
    }
    for (const box of form.querySelectorAll('input[name^="letgo:"]')) if (box.checked) changed[box.name.slice(6)] = '';
    if (!Object.keys(changed).length) throw new Error('Nothing was changed.');
    done(await api(kind + '/' + item.id, { method: 'PUT', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(changed) }));
  } }, el('h3', {}, 'Edit ' + item.title), ...inputs, ...letGo,
  el('p', { class: 'notes' }, 'The phone has no edit: it gets the changed item as a new one, and the old one ' +
    'is deleted once the new one reads back right.'),
  el('div', { class: 'toolbar' }, el('button', { type: 'submit' }, 'Save')));
  const start = form.elements.STARTTIME, whole = form.elements.WHOLEDAY;
  if (start && whole) whole.addEventListener('change', () => {
    const day = start.value.slice(0, 10);
    start.type = whole.checked ? 'date' : 'datetime-local';
    start.value = whole.checked ? day : day + 'T09:00';
  });
  return form;
}

// Digits, '+' and letters of a number, as a search compares them ("010 1234" finds 010-1234-5678).
const digitsOf = (text) => text.replace(/[\s\-./()]/g, '');

// The view's search box: one per visit of the view, so that what was typed stays
// when the view is shown again; `fill` shows what it finds.
function searchBox(view, title, fill) {
  const search = view.search ||
    (view.search = el('input', { type: 'search', placeholder: 'Search', 'aria-label': 'Search ' + title }));
  search.oninput = fill;
  return search;
}

// The toolbar and the list of a searchable view.
function searchable(view, title, items, line, onOpen, onDelete) {
  const list = el('ul', { class: 'items' });
  const found = (item, wanted) => line(item).toLowerCase().includes(wanted) ||
    (digitsOf(wanted) && (item.numbers || []).some((number) => digitsOf(number).includes(digitsOf(wanted))));
  const fill = () => {
    const wanted = search.value.toLowerCase();
    list.replaceChildren(...items.filter((item) => found(item, wanted)).map((item) =>
      el('li', {}, onOpen ? el('button', { class: 'link', onclick: () => onOpen(item) }, line(item)) : line(item),
        onDelete ? el('button', { class: 'danger', 'aria-label': 'Delete ' + line(item),
          onclick: () => onDelete(item) }, 'Delete') : null)));
  };
  const search = searchBox(view, title, fill);
  fill();
  return [el('div', { class: 'toolbar' }, search), list];
}

// A month of appointments in the browser's local time, a week a row.
let shownMonth = new Date();
function month(items, open) {
  const box = el('section', { class: 'month', 'aria-label': 'Month' });
  const draw = () => {
    const first = new Date(shownMonth.getFullYear(), shownMonth.getMonth(), 1);
    const start = new Date(first);
    start.setDate(1 - ((first.getDay() + 6) % 7));  // weeks start on Monday
    const sameDay = (a, b) => a.toDateString() === b.toDateString();
    const rows = [];
    for (let week = 0, day = new Date(start); week < 6; week++) {
      const cells = [];
      for (let i = 0; i < 7; i++, day.setDate(day.getDate() + 1)) {
        const today = new Date(day);
        const date = [today.getFullYear(), today.getMonth() + 1, today.getDate()]
          .map((n) => String(n).padStart(2, '0')).join('-');
        // A whole-day appointment is a day, the same in every zone; a timed one an instant.
        const events = items.filter((item) =>
          item.wholeDay ? item.start.slice(0, 10) === date : sameDay(new Date(item.start), today));
        const classes = [today.getMonth() === first.getMonth() ? '' : 'other', sameDay(today, new Date()) ? 'today' : '']
          .filter(Boolean).join(' ');
        cells.push(el('td', { class: classes, 'data-date': date,
          'aria-current': sameDay(today, new Date()) ? 'date' : false },
          el('div', { class: 'day' }, String(today.getDate())),
          events.map((item) => el('button', { class: 'event', onclick: () => open(item) },
            (item.wholeDay ? '' : new Date(item.start).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', hourCycle: 'h23' }) + ' ') +
            item.title))));
      }
      rows.push(el('tr', {}, cells));
    }
    const names = ['Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat', 'Sun'].map((name) => el('th', {}, name));
    const step = (by) => () => { shownMonth = new Date(first.getFullYear(), first.getMonth() + by, 1); draw(); };
    box.replaceChildren(el('div', { class: 'toolbar' }, el('button', { onclick: step(-1), 'aria-label': 'Previous month' }, '‹'),
      el('strong', {}, first.toLocaleDateString([], { year: 'numeric', month: 'long' })),
      el('button', { onclick: step(1), 'aria-label': 'Next month' }, '›')),
    el('table', {}, el('thead', {}, el('tr', {}, names)), el('tbody', {}, rows)));
  };
  draw();
  return box;
}

function pimView(kind, title, line, addFields) {
  return async function show(view, notice) {
    // (Said at once: a showing that overtakes this one, on the event of the same
    // change, keeps it.)
    const notices = view.notices || (view.notices = el('div', { role: 'status' }));
    if (notice) notices.replaceChildren(notice);
    const overtaken = showing(view);
    const listing = await api(kind);
    if (overtaken()) return;
    const items = kind === 'contacts'
      ? [...listing.items].sort((a, b) => line(a).localeCompare(line(b)))
      : [...listing.items].sort((a, b) => String(a.start).localeCompare(String(b.start)));
    // One item's fields, shown above the list (in sight of the click that asked for it).
    // It stays when the list is shown again (an edit being typed among it), unless the
    // item it shows is gone.
    const detail = view.detail ||
      (view.detail = el('section', { class: 'detail', 'aria-live': 'polite', tabindex: '-1' }));
    if (detail.dataset.id && !detail.querySelector('form') && !items.some((item) => item.id === detail.dataset.id)) {
      detail.replaceChildren(el('p', {}, detail.dataset.title + ' is no longer on the phone.'));
      delete detail.dataset.id;
    }
    // Shown again in place; a notice of what the last action did, until the next.
    const again = (said) => {
      detail.replaceChildren();
      delete detail.dataset.id;
      return show(view, said);
    };
    const open = async (item) => {
      const shown = await api(kind + '/' + item.id);
      const fields = shown.fields || {};
      const pairs = inFieldOrder(Object.keys(fields)).flatMap((name) =>
        [el('dt', { title: name }, fieldNames[name] || name), el('dd', {}, fieldValue(name, fields[name]))]);
      const edited = (done) => again(el('div', { class: 'notes' },
        el('p', {}, 'Saved ' + line(item) + ' (now ID ' + done.id + ').'),
        el('ul', {}, (done.changes || []).map((change) => el('li', {}, change.text || '')))));
      detail.dataset.id = item.id;
      detail.dataset.title = line(item);
      detail.replaceChildren(el('h3', {}, line(item)), el('dl', {}, pairs),
        el('div', { class: 'toolbar' }, el('button', { onclick: () => {
          detail.replaceChildren(editForm(kind, item, shown.fields || {}, addFields, edited));
          detail.querySelector('input:not([type=checkbox])').focus();
        } }, 'Edit'),
        el('button', { class: 'danger', onclick: async () => {
          if (!confirm('Delete ' + line(item) + ' from the phone?')) return;
          await api(kind + '/' + item.id, { method: 'DELETE' });
          await again(el('p', { class: 'notes' }, 'Deleted ' + line(item) + '.'));
        } }, 'Delete')));
      detail.scrollIntoView({ block: 'nearest' });
      detail.focus();
    };
    // The add form and the import stay as they are (what is being typed among them).
    const form = view.addForm || (view.addForm = el('form', { class: 'toolbar', 'aria-label': 'Add', onsubmit: async () => {
      const fields = {};
      const wholeDay = form.elements.WHOLEDAY && form.elements.WHOLEDAY.checked;
      for (const [field, , type] of addFields) {
        if (type === 'checkbox') continue;
        const value = form.elements[field].value.trim();
        // A whole day is a day, the same in every zone: its date as typed.
        if (value) fields[field] = type !== 'datetime-local' ? value : wholeDay ? value.slice(0, 10) : utcStamp(value);
      }
      if (wholeDay) fields.WHOLEDAY = 'TRUE';
      if (!Object.keys(fields).length) throw new Error('Fill in at least one field to add.');
      const done = await api(kind, { method: 'POST', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(fields) });
      // What the phone changed of it (cut, replaced, merged), as the command line says it.
      form.reset();
      await again(el('ul', { class: 'notes' }, (done.changes || []).map((change) => el('li', {}, change.text || ''))));
    } },
    ...addFields.map(([field, label, type, extra]) => el('label', {}, label + ' ',
      el('input', { name: field, type: type || 'text', ...(extra || {}) }))),
    el('button', { type: 'submit' }, 'Add')));
    const extension = kind === 'contacts' ? '.vcf' : '.ics';
    const take = async (file) => {
      const done = await api(kind + '/import?skipExisting=true&name=' + encodeURIComponent(file.name),
        { method: 'POST', body: file });
      // What the phone could not keep, per item, as the command line says it.
      await again(el('div', { class: 'notes' }, el('p', {}, done.added + ' added, ' + done.skipped + ' already there'),
        el('ul', {}, (done.notes || []).map((note) => el('li', {}, note)))));
    };
    if (!view.importer) {
      view.importer = el('input', { type: 'file', accept: extension, 'aria-label': 'Import ' + extension });
      view.importer.addEventListener('change', () => view.importer.files[0] && take(view.importer.files[0]));
    }
    view.ondragover = (event) => event.preventDefault();
    view.ondrop = (event) => {
      event.preventDefault();
      if (event.dataTransfer.files[0]) take(event.dataTransfer.files[0]);
    };
    // (At a phone's width the month gives way to the list: its cells are too small to read.)
    view.replaceChildren(el('h2', {}, title), form,
      el('div', { class: 'toolbar' }, el('label', {}, 'Import ', view.importer),
        downloadLink(kind + '/export', kind + extension, 'Export ' + extension)),
      notices, detail, kind === 'calendar' ? month(items, open) : '', ...searchable(view, title, items, line, open));
  };
}

// Contacts by the name people read; the phone's own title glues LASTNAME and FIRSTNAME.
export const showContacts = pimView('contacts', 'Contacts', (item) => item.name || item.title,
  [['FIRSTNAME', 'First name'], ['LASTNAME', 'Last name'], ['MOBILETELEPHONENUMBER', 'Mobile']]);
export const showCalendar = pimView('calendar', 'Calendar',
  // (A whole-day appointment is a day, the same in every zone: its date as it stands.)
  (item) => (item.wholeDay ? localDay(item.start) + ', all day' : localTime(item.start)) + ' ' + item.title,
  [['TITLE', 'Title', 'text', { required: true }], ['STARTTIME', 'Start', 'datetime-local', { required: true }],
    ['DURATION', 'Minutes', 'number', { min: 0, step: 1 }], ['WHOLEDAY', 'All day', 'checkbox']]);

const callKinds = { recv: 'Received', sent: 'Dialled', miss: 'Missed', callfail: 'Failed' };

export async function showCalls(view) {
  const overtaken = showing(view);
  const listing = await api('calls');
  if (overtaken()) return;
  const calls = [...listing.items].sort((a, b) => String(b.startTime).localeCompare(String(a.startTime)));
  const body = el('tbody');
  const fill = () => {
    const wanted = search.value.toLowerCase();
    body.replaceChildren(...calls.filter((call) => (call.number + ' ' + (call.name || '')).toLowerCase().includes(wanted))
      .map((call) => el('tr', {}, el('td', {}, localTime(call.startTime)),
        el('td', {}, callKinds[call.type.replace('callhistory/', '')] || call.type),
        el('td', {}, call.name || ''), el('td', {}, call.number))));
  };
  const search = searchBox(view, 'calls', fill);
  fill();
  view.replaceChildren(el('h2', {}, 'Calls'), el('div', { class: 'toolbar' }, search),
    el('table', { class: 'calls' }, el('thead', {}, el('tr', {}, el('th', {}, 'When'), el('th', {}, 'Kind'),
      el('th', {}, 'Name'), el('th', {}, 'Number'))), body));
}

// Messages as conversations: received and sent together under each number, named by
// the contacts that hold it (the server matches numbers as the phone keeps them),
// newest first, each with its own delete.
export async function showMessages(view) {
  const overtaken = showing(view);
  const boxes = await Promise.all(['recv', 'sent'].map((box) => api('sms?names=true&box=' + box)));
  if (overtaken()) return;
  const namesOf = new Map();
  for (const message of boxes.flatMap((listing) => listing.items)) namesOf.set(message.number, message.names || []);
  // "홍길동 (010-1234-5678)"; a number no contact holds stays a number.
  const party = (number) => {
    const names = namesOf.get(number) || [];
    return names.length ? names.join(', ') + ' (' + (number || 'no number') + ')' : number || '(no number)';
  };
  const unread = boxes.map((listing) => listing.namesUnread).find(Boolean);
  const messages = boxes.flatMap((listing, i) => listing.items.map((m) => ({ ...m, box: i ? 'sent' : 'recv' })));
  const byNumber = new Map();
  for (const message of messages.sort((a, b) => new Date(b.time) - new Date(a.time))) {
    if (!byNumber.has(message.number)) byNumber.set(message.number, []);
    byNumber.get(message.number).push(message);
  }
  const remove = async (message) => {
    if (!confirm('Delete this message to or from ' + party(message.number) + '?')) return;
    await api('sms/' + message.id + '?box=' + message.box, { method: 'DELETE' });
    await showMessages(view);
  };
  const list = el('div');
  const fill = () => {
    const wanted = search.value.toLowerCase();
    list.replaceChildren(...[...byNumber].filter(([number, thread]) =>
      (party(number) + thread.map((m) => m.text).join(' ')).toLowerCase().includes(wanted))
      .map(([number, thread]) => el('section', { class: 'thread' }, el('h3', {}, party(number)),
      el('ul', { class: 'items' }, thread.map((message) => el('li', { class: message.box },
        el('span', { class: 'when' }, (message.box === 'sent' ? 'sent ' : 'received ') + localTime(message.time)),
        ' ', message.text, ' ',
        el('button', { class: 'danger', onclick: () => remove(message),
          'aria-label': 'Delete the message ' + (message.box === 'sent' ? 'to ' : 'from ') + party(number) +
            ' of ' + localTime(message.time) }, 'Delete')))))));
  };
  const search = searchBox(view, 'messages', fill);
  fill();
  view.replaceChildren(el('h2', {}, 'Messages'), el('div', { class: 'toolbar' }, search),
    el('p', { class: 'notes', hidden: !unread }, unread ? 'Threads show numbers only: ' + unread : ''), list);
}

export async function showApps(view) {
  const overtaken = showing(view);
  const listing = await api('apps');
  if (overtaken()) return;
  if (!view.installer) {
    const installer = view.installer = el('input', { type: 'file', accept: '.cab', 'aria-label': 'Install a CAB package' });
    view.result = el('p', { 'aria-live': 'polite' });
    installer.addEventListener('change', async () => {
      const file = installer.files[0];
      if (!file) return;
      await api('apps?name=' + encodeURIComponent(file.name), { method: 'POST', body: file });
      view.result.textContent = file.name + ': the phone is installing it';
    });
  }
  const { installer, result } = view;
  view.replaceChildren(el('h2', {}, 'Apps'), el('div', { class: 'toolbar' }, el('label', {}, 'Install ', installer)), result,
    listing.packages.length ? el('ul', {}, listing.packages.map((p) => el('li', {}, p.id + ' ' + p.version)))
      : el('p', {}, listing.note || 'No packages are installed.'),
    // (The plug-in installs and lists packages, and has no request that removes one.)
    el('p', { class: 'notes' }, 'No uninstall here: the link to the phone can install and list packages but ' +
      'not remove them. Remove a package on the phone itself.'));
}

// Backup: the whole phone into a PC folder (a new generation each time), the check
// of a generation, and putting one back, with the copy's progress.
export async function showBackup(view) {
  const folder = el('input', { name: 'folder', required: true, placeholder: '~/phone-backup', size: 40 });
  const result = el('div', { 'aria-live': 'polite' });
  const progress = el('progress', { hidden: true, 'aria-label': 'Backup progress' });
  const chooser = el('select', { name: 'generation', 'aria-label': 'Generation' });
  const unread = el('div', { class: 'notes' });
  const generations = el('div', { class: 'toolbar', hidden: true }, el('label', {}, 'Generation ', chooser));
  let listed = [];
  // A generation as the list shows it: its time in the page's locale, else its name.
  const timeOf = (name) => {
    const generation = listed.find((each) => each.name === name);
    return generation && generation.time
      ? new Date(generation.time).toLocaleString([], { dateStyle: 'medium', timeStyle: 'medium' }) : name;
  };
  const said = (action, done) => {
    const c = done.counts || {};
    if (action === 'backup')
      return el('p', {}, 'Generation ' + done.generation + ': ' + c.files + ' files (' + done.copied + ' copied, ' +
        done.unchanged + ' unchanged), ' + c.contacts + ' contacts, ' + c.appointments + ' appointments, ' +
        c.calls + ' calls, ' + c.messages + ' messages.',
      el('ul', {}, [...done.skipped, ...done.gone].map((line) => el('li', {}, line))));
    if (action === 'verify')
      return done.verified ? el('p', {}, 'Generation of ' + timeOf(done.generation) + ' is whole: ' + done.files + ' files.')
        : el('ul', {}, done.problems.map((line) => el('li', {}, line)));
    const files = done.files || {};
    const items = (part, noun) => (done[part] ? ', ' + done[part].added + ' ' + noun + ' added (' +
      done[part].skipped + ' already there' + (done[part].refused ? ', ' + done[part].refused + ' refused' : '') + ')' : '');
    return el('div', {}, el('p', {}, 'Generation of ' + timeOf(done.generation) + ' put back: ' +
      count(files.restored || 0, 'file', 'files') + ' restored, ' + (files.kept || 0) + ' kept as the phone has them' +
      items('contacts', 'contacts') + items('calendar', 'appointments') + '.'),
    (done.notRestored || []).length ? el('p', {}, 'Not restored:') : null,
    el('ul', {}, (done.notRestored || []).map((line) => el('li', {}, line))));
  };
  // The chosen generation's parts its backup could not read: a restore lacks them.
  const showUnread = () => {
    const chosen = listed.find((generation) => generation.name === chooser.value);
    const parts = chosen ? chosen.unread || [] : [];
    unread.replaceChildren(...(parts.length ? [el('p', {}, 'This generation lacks what its backup could not read:'),
      el('ul', {}, parts.map((part) => el('li', {}, part.part + ': ' + part.why)))] : []));
  };
  const post = (action, extra = {}) => api('backup', { method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ folder: folder.value, action, ...extra }) });
  // The folder's generations, newest first, in the page's local time.
  const list = async () => {
    if (!folder.value) return;
    try {
      const done = await post('list');
      listed = [...done.generations].reverse();
    } catch (error) {
      listed = [];
      if (error.kind !== 'pcFile') throw error;  // (a folder with no backup yet has none to choose)
    }
    chooser.replaceChildren(...listed.map((generation, i) => el('option', { value: generation.name },
      timeOf(generation.name) + (i ? '' : ' (latest)') +
      (generation.unread && generation.unread.length ? ', incomplete' : ''))));
    generations.hidden = !listed.length;
    showUnread();
  };
  chooser.addEventListener('change', showUnread);
  folder.addEventListener('change', () => list().catch((error) => result.replaceChildren(
    el('p', { role: 'alert' }, error.message))));
  listen((event) => {
    if (event.event !== 'progress' || !event.total) return;
    progress.hidden = false;
    progress.max = event.total;
    progress.value = event.bytes;
  }, view.signal);
  const buttons = [];
  const run = (action) => async () => {
    if (!folder.value) return folder.reportValidity();
    const chosen = action === 'backup' ? {} : { generation: chooser.value || undefined };
    const named = chooser.selectedOptions[0] ? chooser.selectedOptions[0].textContent : 'the latest generation';
    if (action === 'restore' && !confirm('Put ' + named + ' of ' + folder.value + ' back on the phone?')) return;
    result.textContent = action + '…';
    // One backup folder, one action at a time: the others wait for this one's end.
    for (const button of buttons) button.disabled = true;
    try {
      result.replaceChildren(said(action, await post(action, chosen)));
      if (action === 'backup') await list();
    } catch (error) {
      // (a backup or restore that holds less than asked answers its summary too)
      const partial = error.document && error.document.generation ? [said(action, error.document)] : [];
      result.replaceChildren(el('p', { role: 'alert' }, error.message), ...partial);
      if (partial.length && action === 'backup') await list();
    } finally {
      progress.hidden = true;
      for (const button of buttons) button.disabled = false;
    }
  };
  buttons.push(el('button', { onclick: run('backup') }, 'Back up'), el('button', { onclick: run('verify') }, 'Verify'),
    el('button', { onclick: run('restore') }, 'Restore'));
  view.append(el('h2', {}, 'Backup'), el('div', { class: 'toolbar' }, el('label', {}, 'Folder on this PC ', folder),
    ...buttons), generations, unread, progress, result);
}
