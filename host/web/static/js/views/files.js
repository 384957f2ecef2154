// Files: breadcrumbs, a sortable table, selection, download, upload (picker or drop)
// with progress and cancel, new folder, rename, delete with confirmation.
import { ApiError, api, authorization, downloadLink, el, humanSize, operationName, query, showFailure, showing }
  from '../api.js';
import { listen } from '../events.js';

// The folder shown, kept for this tab across reloads.
let folder = sessionStorage.getItem('cebridge-folder') || '/';
let sortKey = 'name', sortUp = true;

// A listing's time (this PC's local time, "YYYY-MM-DD HH:MM:SS") in the page's locale,
// as every other view shows times.
function shownTime(listed) {
  const parts = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})$/.exec(listed || '');
  if (!parts) return listed || '';
  const [, year, month, day, hour, minute] = parts.map(Number);
  return new Date(year, month - 1, day, hour, minute).toLocaleString([], { dateStyle: 'medium', timeStyle: 'short' });
}

const join = (base, name) => (base.endsWith('/') ? base : base + '/') + name;

function crumbs(enter) {
  const parts = folder.split('/').filter(Boolean);
  const nav = el('div', { class: 'crumbs', role: 'navigation', 'aria-label': 'Folder' },
    el('button', { onclick: () => enter('/') }, 'Phone'));
  parts.forEach((part, i) => {
    nav.append(' / ', el('button', { onclick: () => enter('/' + parts.slice(0, i + 1).join('/')) }, part));
  });
  return nav;
}

function sorted(entries) {
  const factor = sortUp ? 1 : -1;
  return [...entries].sort((a, b) => {
    if (a.folder !== b.folder) return a.folder ? -1 : 1;
    const x = a[sortKey], y = b[sortKey];
    return factor * (typeof x === 'number' ? x - y : String(x).localeCompare(String(y)));
  });
}

function upload(file, target, status, render) {
  // XMLHttpRequest, not fetch: it reports the upload's progress and can be aborted.
  // The upload is named, so that its Cancel reaches it alone, not another tab's operation.
  const request = new XMLHttpRequest();
  const operation = operationName();
  const bar = el('progress', { max: file.size || 1, value: 0, 'aria-label': 'Uploading ' + file.name });
  const cancel = el('button', { onclick: () => {
    request.abort();
    api('cancel?' + query('operation', operation), { method: 'POST' }).catch(() => {});
  } }, 'Cancel');
  const said = el('span', {}, 'Uploading ' + file.name + ' ');
  const row = el('p', { class: 'upload' }, said, bar, ' ', cancel);
  status.append(row);
  // Once the body is with the server, the bar follows the server's copy to the phone
  // (the copy on the phone whose size is the file's).
  let copying = false;
  request.upload.onprogress = (event) => { if (!copying) bar.value = event.loaded; };
  const stopFollowing = listen((event) => {
    if (event.event !== 'progress' || event.total !== file.size) return;
    if (!copying) said.textContent = 'Copying ' + file.name + ' to the phone ';
    copying = true;
    bar.value = event.bytes;
  });
  request.onloadend = () => {
    stopFollowing();
    row.remove();
    if (request.status === 200) render();
    else if (request.status) status.append(el('p', { role: 'alert' }, file.name + ': ' + errorOf(request)));
    else status.append(el('p', {}, file.name + ': cancelled'));
  };
  request.open('PUT', '/api/file?' + query('path', join(target, file.name)));
  request.setRequestHeader('X-Operation', operation);
  for (const [name, value] of Object.entries(authorization())) request.setRequestHeader(name, value);
  request.send(file);
}

// Files a page previews: images a browser only draws, and text, shown as text.
const previewable = /\.(png|jpe?g|gif|bmp|txt|log|csv|ini|xml|html?)$/i;
const largestPreview = 4 << 20;  // (the server refuses a file listed larger; this stops one listed wrong)

// The bytes of a phone file, up to largestPreview; the answer's content type.
async function previewBytes(path, signal) {
  const stop = new AbortController();
  signal.addEventListener('abort', () => stop.abort());
  const response = await fetch('/api/preview?' + query('path', path),
    { headers: authorization(), credentials: 'omit', signal: stop.signal });
  if (!response.ok) {
    const body = await response.json().catch(() => ({}));
    throw new ApiError(response.status, body.error || response.statusText, body.kind);
  }
  const reader = response.body.getReader();
  const parts = [];
  for (let size = 0, part; !(part = await reader.read()).done;) {
    size += part.value.length;
    if (size > largestPreview) {
      stop.abort();
      throw new Error('This file is too large to preview: download it.');
    }
    parts.push(part.value);
  }
  return { bytes: new Blob(parts), type: response.headers.get('Content-Type') || '' };
}

// Text as text (never as markup): UTF-8, or UTF-16 with its byte order mark; other
// bytes are shown with a note, their undecodable characters as �.
async function textOf(blob) {
  const bytes = new Uint8Array(await blob.arrayBuffer());
  if (bytes[0] === 0xff && bytes[1] === 0xfe) return { text: new TextDecoder('utf-16le').decode(bytes) };
  if (bytes[0] === 0xfe && bytes[1] === 0xff) return { text: new TextDecoder('utf-16be').decode(bytes) };
  try {
    return { text: new TextDecoder('utf-8', { fatal: true }).decode(bytes) };
  } catch {
    return { text: new TextDecoder('utf-8').decode(bytes), note: 'This text is not UTF-8: what cannot be read shows as �.' };
  }
}

async function showPreview(box, path, name, signal) {
  const { bytes, type } = await previewBytes(path, signal);
  const close = el('button', { onclick: () => box.replaceChildren() }, 'Close');
  let shown;
  if (type.startsWith('image/')) {
    const address = URL.createObjectURL(bytes);
    signal.addEventListener('abort', () => URL.revokeObjectURL(address));
    shown = el('img', { src: address, alt: name, onload: () => URL.revokeObjectURL(address), onerror: () => {
      URL.revokeObjectURL(address);
      shown.replaceWith(el('p', { class: 'notes' }, 'The browser cannot draw this image: it may be damaged.'));
    } });
  } else {
    const { text, note } = await textOf(bytes);
    shown = [note ? el('p', { class: 'notes' }, note) : null, el('pre', {}, text)];
  }
  box.replaceChildren(el('div', { class: 'toolbar' }, el('h3', {}, name), close), ...[shown].flat().filter(Boolean));
  box.focus();
}

function errorOf(request) {
  try { return JSON.parse(request.responseText).error; } catch { return request.statusText; }
}

// The folder is the module's; the view keeps what outlives one listing of it: the
// names selected, the uploads' rows and notes, the preview.
export async function showFiles(view) {
  const selected = view.selected || (view.selected = new Set());
  const status = view.status || (view.status = el('div', { 'aria-live': 'polite' }));
  const previewBox = view.previewBox ||
    (view.previewBox = el('section', { class: 'preview', 'aria-label': 'Preview', tabindex: '-1' }));
  // A note of the last action, in place of the one before (the uploads' rows stay).
  const say = (...text) => status.replaceChildren(...[...status.children].filter((row) => row.matches('.upload')),
    ...text.map((line) => el('p', {}, line)));
  // `focus`: a folder was opened, so the focus moves to the new folder's heading.
  const render = async (focus) => {
    const overtaken = showing(view);
    const listing = await api('files?' + query('path', folder));
    if (overtaken()) return;
    sessionStorage.setItem('cebridge-folder', folder);
    const listedNames = new Set(listing.entries.map((entry) => entry.name));
    for (const name of [...selected]) if (!listedNames.has(name)) selected.delete(name);
    const chosenEntries = () => listing.entries.filter((entry) => selected.has(entry.name));
    const enter = (path) => {
      folder = path;
      selected.clear();
      previewBox.replaceChildren();
      say();
      return render(true);
    };
    const picker = el('input', { type: 'file', multiple: true, 'aria-label': 'Upload files' });
    // A file of the same name is replaced only when the user says so.
    const names = new Set(listing.entries.map((entry) => entry.name.toLowerCase()));
    const send = (files) => {
      for (const file of files) {
        if (names.has(file.name.toLowerCase()) &&
            !confirm(file.name + ' is already in this folder on the phone. Replace it?')) continue;
        upload(file, folder, status, render);
      }
    };
    picker.addEventListener('change', () => send(picker.files));
    const header = (key, label, numeric) => el('th', { class: numeric ? 'number' : '', 'aria-sort':
        sortKey === key ? (sortUp ? 'ascending' : 'descending') : 'none' },
      el('button', { onclick: () => { sortUp = sortKey === key ? !sortUp : true; sortKey = key; render(); } }, label));
    const rows = sorted(listing.entries).map((entry) => {
      const path = join(folder, entry.name);
      const open = entry.folder
        ? el('button', { class: 'link', onclick: () => enter(path) }, entry.name + '/')
        : downloadLink('file?' + query('path', path), entry.name, entry.name);
      const box = el('input', { type: 'checkbox', 'aria-label': 'Select ' + entry.name, checked: selected.has(entry.name),
        onchange: (event) => { event.target.checked ? selected.add(entry.name) : selected.delete(entry.name);
          row.classList.toggle('selected', event.target.checked); } });
      const look = !entry.folder && previewable.test(entry.name) ? el('button', { class: 'link preview-button',
        'aria-label': 'Preview ' + entry.name, onclick: () => showPreview(previewBox, path, entry.name, view.signal) },
      'Preview') : null;
      const row = el('tr', { class: selected.has(entry.name) ? 'selected' : false }, el('td', {}, box), el('td', {}, open, look ? ' ' : null, look),
        el('td', { class: 'number' }, entry.folder ? '' : humanSize(entry.size)), el('td', {}, shownTime(entry.modified)));
      return row;
    });
    const remove = async () => {
      const chosen = chosenEntries();
      if (!chosen.length) return showFailure(new Error('Select the files or folders to delete first.'));
      const folders = chosen.filter((entry) => entry.folder).length;
      const what = chosen.map((entry) => entry.name + (entry.folder ? '/' : '')).join(', ');
      if (!confirm('Delete ' + what + (folders ? ' (folders with everything in them)' : '') + ' from the phone?'))
        return;
      try {
        for (const entry of chosen)
          await api('file?' + query('path', join(folder, entry.name)) + (entry.folder ? '&recursive=true' : ''),
            { method: 'DELETE' });
        // (The link to the phone removes files only.)
        if (folders) say('Deleted everything in ' + what + '. The folders stay, empty: the link to the phone ' +
          'cannot remove a folder. Remove them on the phone itself.');
      } finally {
        await render();
      }
    };
    // The phone's link has no rename: the server copies the file to its new name,
    // reads the copy back, and removes the original only when the two are the same.
    const rename = async () => {
      const chosen = chosenEntries();
      if (chosen.length !== 1) return showFailure(new Error('Select the one file to rename first.'));
      const [entry] = chosen;
      if (entry.folder)
        return showFailure(new Error(entry.name + ' is a folder: the link to the phone cannot remove a folder, so ' +
          'a renamed one would leave its old name behind. Make a new folder and upload the files into it.'));
      const name = (prompt('New name of ' + entry.name, entry.name) || '').trim();
      if (!name || name === entry.name) return;
      if (/[\\/:*?"<>|]/.test(name) || name === '.' || name === '..')
        return showFailure(new Error('A file name cannot hold \\ / : * ? " < > | (nor be . or ..)'));
      await api('rename?' + query('path', join(folder, entry.name)) + '&' + query('name', name), { method: 'POST' });
      selected.delete(entry.name);
      selected.add(name);
      say('Renamed ' + entry.name + ' to ' + name + ' (copied, read back whole, and the original removed).');
      await render();
    };
    const makeFolder = async () => {
      const name = (prompt('New folder name') || '').trim();
      if (!name) return;
      if (/[\\/:*?"<>|]/.test(name) || name === '.' || name === '..')
        return showFailure(new Error('A folder name cannot hold \\ / : * ? " < > | (nor be . or ..)'));
      await api('folder?' + query('path', join(folder, name)), { method: 'POST' });
      await render();
    };
    const all = el('input', { type: 'checkbox', 'aria-label': 'Select all', onchange: () => {
      for (const box of table.querySelectorAll('tbody input[type=checkbox]'))
        if (box.checked !== all.checked) box.click();
    } });
    const table = el('table', {}, el('thead', {}, el('tr', {}, el('th', {}, all), header('name', 'Name'),
      header('size', 'Size', true), header('modified', 'Modified'))), el('tbody', {}, rows));
    const heading = el('h2', { tabindex: '-1' }, 'Files');
    all.checked = listing.entries.length > 0 && selected.size === listing.entries.length;
    view.replaceChildren(heading, crumbs(enter),
      el('div', { class: 'toolbar' }, picker, el('button', { onclick: makeFolder }, 'New folder'),
        el('button', { onclick: rename }, 'Rename'),
        el('button', { class: 'danger', onclick: remove }, 'Delete selected')), status, previewBox, table);
    view.ondragover = (event) => { event.preventDefault(); view.classList.add('drop'); };
    view.ondragleave = () => view.classList.remove('drop');
    view.ondrop = (event) => {
      event.preventDefault();
      view.classList.remove('drop');
      send(event.dataTransfer.files);
    };
    if (focus === true) heading.focus();
  };
  await render();
}
