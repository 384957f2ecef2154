// Contacts and calendar: a searchable list, one item's fields, add and delete;
// calls, messages and apps as lists.
import { api, el } from '../api.js';

const localTime = (stamp) => (stamp ? new Date(stamp).toLocaleString() : '');
// A time the browser took in its own zone, as the UTC form the phone's add takes.
const utcStamp = (local) => new Date(local).toISOString().replace(/[-:]/g, '').replace(/\.\d+Z$/, 'Z');

function searchable(view, title, items, line, onOpen) {
  const search = el('input', { type: 'search', placeholder: 'Search', 'aria-label': 'Search ' + title });
  const list = el('ul', { class: 'items' });
  const fill = () => {
    const wanted = search.value.toLowerCase();
    list.replaceChildren(...items.filter((item) => line(item).toLowerCase().includes(wanted)).map((item) =>
      el('li', {}, onOpen ? el('button', { class: 'link', onclick: () => onOpen(item) }, line(item)) : line(item))));
  };
  search.addEventListener('input', fill);
  fill();
  view.append(el('div', { class: 'toolbar' }, search), list);
}

function pimView(kind, title, line, addFields) {
  return async function show(view) {
    const listing = await api(kind);
    const detail = el('section', { 'aria-live': 'polite' });
    const open = async (item) => {
      const shown = await api(kind + '/' + item.id);
      const pairs = Object.entries(shown.fields || {}).flatMap(([name, value]) => [el('dt', {}, name), el('dd', {}, value)]);
      detail.replaceChildren(el('h3', {}, line(item)), el('dl', {}, pairs),
        el('button', { class: 'danger', onclick: async () => {
          if (!confirm('Delete ' + line(item) + ' from the phone?')) return;
          await api(kind + '/' + item.id, { method: 'DELETE' });
          view.replaceChildren(); show(view);
        } }, 'Delete'));
    };
    const form = el('form', { class: 'toolbar', 'aria-label': 'Add' },
      ...addFields.map(([field, label, type]) =>
        el('input', { name: field, type: type || 'text', placeholder: label, 'aria-label': label })),
      el('button', { type: 'submit' }, 'Add'));
    form.addEventListener('submit', async (event) => {
      event.preventDefault();
      const fields = {};
      for (const [field, , type] of addFields) {
        const value = form.elements[field].value;
        if (value) fields[field] = type === 'datetime-local' ? utcStamp(value) : value;
      }
      await api(kind, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(fields) });
      view.replaceChildren(); show(view);
    });
    view.append(el('h2', {}, title), form);
    searchable(view, title, listing.items, line, open);
    view.append(detail);
  };
}

export const showContacts = pimView('contacts', 'Contacts', (item) => item.title,
  [['FIRSTNAME', 'First name'], ['LASTNAME', 'Last name'], ['MOBILETELEPHONENUMBER', 'Mobile']]);
export const showCalendar = pimView('calendar', 'Calendar',
  (item) => localTime(item.start) + ' ' + item.title,
  [['TITLE', 'Title'], ['STARTTIME', 'Start', 'datetime-local'], ['DURATION', 'Minutes', 'number']]);

export async function showCalls(view) {
  const listing = await api('calls');
  view.append(el('h2', {}, 'Calls'));
  searchable(view, 'Calls', listing.items, (call) =>
    localTime(call.startTime) + '  ' + call.type.replace('callhistory/', '') + '  ' + call.number + '  ' + (call.name || ''));
}

export async function showMessages(view) {
  view.append(el('h2', {}, 'Messages'));
  for (const box of ['recv', 'sent']) {
    const listing = await api('sms?box=' + box);
    view.append(el('h3', {}, box === 'recv' ? 'Received' : 'Sent'));
    searchable(view, box, listing.items, (message) => localTime(message.time) + '  ' + message.number + '  ' + message.text);
  }
}

export async function showApps(view) {
  const listing = await api('apps');
  view.append(el('h2', {}, 'Apps'),
    listing.packages.length ? el('ul', {}, listing.packages.map((p) => el('li', {}, p.id + ' ' + p.version)))
      : el('p', {}, 'No packages are installed.'));
}
