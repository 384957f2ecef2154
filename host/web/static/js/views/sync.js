// Sync: the pairs the command line made (the phone and PC folders), each with a
// preview (nothing written) and a sync, its progress item by item, then its report.
import { api, ApiError, el, operationName, query } from '../api.js';
import { listen } from '../events.js';

const sides = (counts) => counts.phone + ' on the phone, ' + counts.pc + ' on the PC';

function folders(pair) {
  return [['contacts', pair.contacts], ['calendar', pair.calendar]].filter(([, folder]) => folder)
    .map(([kind, folder]) => el('div', {}, kind + ': ', el('code', {}, folder)));
}

// What a run did (or, in a preview, would do), as the command line says it.
function report(done, syncForced) {
  const would = done.dryRun ? 'would ' : '';
  const box = el('section', { class: 'report', 'aria-label': 'Sync report' },
    el('h3', {}, done.dryRun ? 'Preview of ' + done.pair + ': nothing was changed'
      : done.pair + (done.deletionsHeld ? ' is synced but for its deletions' : ' is in step')),
    el('dl', {},
      el('dt', {}, 'Created'), el('dd', {}, sides(done.created)),
      el('dt', {}, 'Updated'), el('dd', {}, sides(done.updated)),
      el('dt', {}, 'Deleted'), el('dd', {}, sides(done.deleted)),
      el('dt', {}, 'Unchanged'), el('dd', {}, String(done.unchanged)),
      el('dt', {}, 'Conflicts'), el('dd', {}, done.conflicts + ' (changed on both sides: ' + done.conflict + ')')));
  if (done.actions.length)
    box.append(el('ul', { class: 'items' }, done.actions.map((action) => el('li', {},
      would + action.action + ' on the ' + action.side + ': ' + action.kind + ' "' + action.item + '" ',
      el('span', { class: 'when' }, '(' + action.why + ')')))));
  if (done.notes.length) box.append(el('ul', { class: 'notes' }, done.notes.map((note) => el('li', {}, note))));
  if (done.deletionsHeld)
    box.append(el('p', { role: 'alert' }, 'The deletions above were held back. ',
      el('button', { class: 'danger', onclick: syncForced }, 'Sync with force')));
  return box;
}

// One run of `pair` on the phone, its progress from the server's events, cancellable.
async function run(pair, options, status) {
  const operation = operationName();
  const bar = el('progress', { 'aria-label': 'Sync progress' });
  const counter = el('span', {}, options.dryRun ? 'Reading both sides…' : 'Syncing…');
  const cancel = el('button', { onclick: () => api('cancel?' + query('operation', operation), { method: 'POST' }) },
    'Cancel');
  status.replaceChildren(el('p', {}, pair.pair + ': ', counter, ' ', bar, ' ', cancel));
  const stopListening = listen((event) => {
    if (event.event !== 'items' || event.pair !== pair.pair) return;
    bar.max = event.total || 1;
    bar.value = event.done;
    counter.textContent = event.label + ': ' + event.done + ' of ' + event.total;
  });
  try {
    const done = await api('sync/' + encodeURIComponent(pair.pair), { method: 'POST', body: JSON.stringify(options),
      headers: { 'Content-Type': 'application/json', 'X-Operation': operation } });
    status.replaceChildren();
    return done;
  } catch (error) {
    const cancelled = error instanceof ApiError && error.kind === 'interrupted';
    status.replaceChildren(el('p', { role: 'alert' }, cancelled
      ? pair.pair + ': cancelled. What was done is remembered: Sync now goes on from there.'
      : pair.pair + ': ' + error.message));
    return null;
  } finally {
    stopListening();
  }
}

export async function showSync(view) {
  view.append(el('h2', {}, 'Sync'));
  let listing;
  try {
    listing = await api('sync');
  } catch (error) {
    if (error.status !== 404) throw error;
    view.append(el('p', {}, 'Sync is not in this build of cebridge.'));
    return;
  }
  const policy = el('select', { 'aria-label': 'When an item changed on both sides' },
    el('option', { value: 'keep-both' }, 'keep both'), el('option', { value: 'phone' }, 'the phone wins'),
    el('option', { value: 'pc' }, 'the PC wins'));
  const status = el('div', { 'aria-live': 'polite' });
  const result = el('div', { 'aria-live': 'polite' });
  const buttons = [];
  const start = (pair, dryRun, force = false) => async () => {
    buttons.forEach((button) => { button.disabled = true; });
    result.replaceChildren();
    const done = await run(pair, { dryRun, force, conflict: policy.value }, status);
    buttons.forEach((button) => { button.disabled = false; });
    if (done) result.append(report(done, () => {
      if (confirm('Sync ' + pair.pair + ' with force? Items deleted on one side are deleted on the other too, ' +
        'however many they are.')) start(pair, false, true)();
    }));
    if (!dryRun) showPhones(await api('sync'));
  };
  const phones = new Map();  // pair name → its phone cell, filled in by the first sync
  const showPhones = (now) => {
    for (const pair of now.pairs) if (phones.has(pair.pair)) phones.get(pair.pair).textContent = pair.phone || 'not synced yet';
  };
  const rows = listing.pairs.map((pair) => {
    const preview = el('button', { onclick: start(pair, true) }, 'Preview');
    const sync = el('button', { onclick: start(pair, false) }, 'Sync now');
    buttons.push(preview, sync);
    phones.set(pair.pair, el('td', {}));
    return el('tr', {}, el('td', {}, pair.pair), el('td', {}, folders(pair)), phones.get(pair.pair),
      el('td', { class: 'actions' }, preview, ' ', sync));
  });
  showPhones(listing);
  if (!rows.length) {
    view.append(el('p', {}, 'No sync pairs yet. Make one on the command line: ',
      el('code', {}, 'cebridge sync add NAME --contacts FOLDER --calendar FOLDER')));
    return;
  }
  view.append(el('div', { class: 'toolbar' }, el('label', {}, 'Changed on both sides: ', policy)),
    el('table', { class: 'pairs' }, el('thead', {}, el('tr', {}, el('th', {}, 'Pair'), el('th', {}, 'Folders'), el('th', {}, 'Phone'),
      el('th', { 'aria-label': 'Actions' }))), el('tbody', {}, rows)),
    status, result);
}
