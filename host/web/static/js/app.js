// The page: one view at a time, chosen by the address's #fragment.
import { api, el, humanSize, showFailure, showing, takeTokenFromAddress } from './api.js';
import { listen, onStreamState, startEvents } from './events.js';
import { showFiles } from './views/files.js';
import { showApps, showBackup, showCalendar, showCalls, showContacts, showMessages } from './views/pim.js';
import { showSync } from './views/sync.js';

const views = {
  phone: showPhone, files: showFiles, contacts: showContacts, calendar: showCalendar,
  calls: showCalls, messages: showMessages, apps: showApps, backup: showBackup, sync: showSync,
};

async function showPhone(view) {
  const overtaken = showing(view);
  const info = await api('info');
  if (overtaken()) return;
  const shown = [];
  document.getElementById('connection').textContent = 'connected: ' + info.model;
  document.getElementById('version').textContent = 'cebridge ' + info.cebridge;
  shown.push(el('h2', {}, info.model),
    el('dl', {}, el('dt', {}, 'Manufacturer'), el('dd', {}, info.manufacturer),
      el('dt', {}, 'Phone number'), el('dd', {}, info.phoneNumber || 'not known')));
  for (const store of info.memories || []) {
    // The object store's location is "0"; the table of the command line names it so too.
    const name = store.location === '0' ? 'object store' : store.location;
    shown.push(el('section', { class: 'store' },
      el('h3', {}, name + ' (' + store.type + ')'),
      el('meter', { min: 0, max: store.total, value: store.used, 'aria-label': name + ' used' }),
      el('p', {}, humanSize(store.used) + ' used, ' + humanSize(store.free) + ' free of ' +
        humanSize(store.total))));
  }
  view.replaceChildren(...shown);
}

// The parts of the phone (the server's "changed" events) each view lists; a change
// of "phone" (a restore, a sync, an install) is a change of every part. A view that
// lists no part (backup, sync) is not shown again.
const listed = {
  phone: ['files', 'contacts', 'calendar', 'messages'], files: ['files'], contacts: ['contacts'],
  calendar: ['calendar'], calls: [], messages: ['messages'], apps: [],
};

// Shows the view again, in place (its search, selection, open item and folder kept):
// when another tab, a script or this tab changed what it lists, and when the tab is
// seen again (a command may have changed the phone meanwhile, and tells no server).
function keepShowing(name, view, show) {
  if (!listed[name]) return;
  let running = null, again = false;
  const reload = () => {
    if (view.signal.aborted) return;
    if (running) { again = true; return; }
    running = show(view).catch((error) => { if (!view.signal.aborted) showFailure(error); }).finally(() => {
      running = null;
      if (again) { again = false; reload(); }
    });
  };
  listen((event) => {
    if (event.event === 'changed' && (event.part === 'phone' || listed[name].includes(event.part))) reload();
  }, view.signal);
  document.addEventListener('visibilitychange', () => { if (!document.hidden) reload(); }, { signal: view.signal });
}

// Each visit of a view gets an element of its own: what the view hangs on it (drop
// handlers, listeners) ends with it, and a view still loading when the user moved on
// fills an element no longer on the page. `view.signal` is aborted when it is left.
let leaving = null;
async function route() {
  const name = location.hash.slice(1) || 'phone';
  for (const link of document.querySelectorAll('nav a')) {
    if (link.getAttribute('href') === '#' + name) {
      link.setAttribute('aria-current', 'page');
      link.scrollIntoView({ block: 'nearest', inline: 'nearest' });
    } else {
      link.removeAttribute('aria-current');
    }
  }
  document.getElementById('problem').hidden = true;  // (a failure of the view left behind)
  if (leaving) leaving.abort();
  leaving = new AbortController();
  const view = el('div', { class: 'view' });
  view.signal = leaving.signal;
  document.getElementById('view').replaceChildren(view);
  const show = views[name];
  if (!show) { view.append(el('p', {}, 'This view is not here yet.')); return; }
  try { await show(view); } catch (error) { if (!view.signal.aborted) showFailure(error); }
  keepShowing(name, view, show);
}

// An action's failure that nothing else showed (a rejected API call in a handler).
window.addEventListener('unhandledrejection', (event) => {
  event.preventDefault();
  showFailure(event.reason instanceof Error ? event.reason : new Error(String(event.reason)));
});

// The connection's state, live: the server tells every page after each operation.
const connection = document.getElementById('connection');
listen((event) => {
  if (event.event === 'connection') connection.textContent = event.connected ? 'connected' : 'not connected';
});
onStreamState((answering, status) => {
  if (status === 401) connection.textContent = 'not let in (no token, or one of another run): open the address ' +
    'cebridge serve printed';
  else if (!answering) connection.textContent = 'the server is not answering';
});

// (The skip link's target is no view's name: it moves the focus, not the route.)
document.querySelector('.skip').addEventListener('click', (event) => {
  event.preventDefault();
  document.getElementById('view').focus();
});

takeTokenFromAddress();
// The printed address opened in a tab that shows the page already changes only its
// fragment: its token is taken as at a load, and the page starts again with it.
window.addEventListener('hashchange', () => {
  if (!takeTokenFromAddress()) return route();
  location.reload();
});
route();
startEvents();
