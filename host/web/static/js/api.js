// The server's JSON API. The token arrives in the printed address's fragment (which
// no request carries), moves into this tab's session storage and out of the address
// bar and history, and goes with every request as a bearer header: no cookie, which
// every other server on this address would receive too. Errors come back as
// {"error": message, "kind": what failed ("interrupted", "notFound"...)}; a result that
// holds less than was asked (a backup missing parts) comes back whole with them, as
// the error's `document`.
export class ApiError extends Error {
  constructor(status, message, kind, document) {
    super(message);
    this.status = status;
    this.kind = kind || '';
    this.document = document || null;
  }
}

const tokenKey = 'cebridge-token';

// Whether the address carried a token (now taken out of it).
export function takeTokenFromAddress() {
  const match = /^#token=([0-9a-f]+)$/.exec(location.hash);
  if (!match) return false;
  sessionStorage.setItem(tokenKey, match[1]);
  history.replaceState(null, '', location.pathname);
  return true;
}

export const authorization = () => ({ Authorization: 'Bearer ' + (sessionStorage.getItem(tokenKey) || '') });

export async function api(path, options = {}) {
  let response;
  try {
    response = await fetch('/api/' + path,
      { ...options, credentials: 'omit', headers: { ...authorization(), ...(options.headers || {}) } });
  } catch (error) {
    if (options.signal && options.signal.aborted) throw error;
    throw new ApiError(0, 'cebridge serve is not answering: is it still running?');
  }
  const type = response.headers.get('Content-Type') || '';
  const body = type.startsWith('application/json') ? await response.json() : null;
  if (!response.ok) {
    throw new ApiError(response.status, body && body.error ? body.error : response.statusText, body && body.kind, body);
  }
  return body;
}

// Lets the browser fetch `path` of the API itself (a download to a file): a plain
// link carries no header, so it carries a ticket good for that one request.
export async function download(path, fileName) {
  const { ticket } = await api('ticket', { method: 'POST' });
  const link = el('a', { href: '/api/' + path + (path.includes('?') ? '&' : '?') + query('ticket', ticket),
    download: fileName, hidden: true });
  document.body.append(link);
  link.click();
  link.remove();
}

// A link that downloads `path` of the API when followed.
export const downloadLink = (path, fileName, ...children) => el('a', { href: '#', download: fileName,
  onclick: (event) => { event.preventDefault(); download(path, fileName).catch(showFailure); } }, ...children);

// Where failures of actions that have no place of their own are shown.
export function showFailure(error) {
  const box = document.getElementById('problem');
  box.textContent = error.message;
  box.hidden = false;
  setTimeout(() => { box.hidden = true; }, 8000);
}

// A name for one operation (its X-Operation header), so that its Cancel reaches it
// alone, not another tab's. (getRandomValues, not randomUUID: a page served on another
// address than loopback with --bind is no secure context, and randomUUID is only
// given to those.)
export const operationName = () => Array.from(crypto.getRandomValues(new Uint8Array(16)),
  (byte) => byte.toString(16).padStart(2, '0')).join('');

// A showing of `view` started now: the returned check says whether a later showing
// (or leaving the view) overtook it while it waited, so that it lands nothing.
export function showing(view) {
  const turn = (view.turn = (view.turn || 0) + 1);
  return () => turn !== view.turn || (view.signal && view.signal.aborted);
}

export const query = (name, value) => name + '=' + encodeURIComponent(value);

export function humanSize(bytes) {
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes, unit = 0;
  while (value >= 1024 && unit < units.length - 1) { value /= 1024; unit++; }
  return (unit ? value.toFixed(1) : String(value)) + ' ' + units[unit];
}

// Runs an action a control started: the control stays disabled until the action
// ends (a second click cannot start it twice), and a failure is shown, not lost.
export function act(control, action) {
  const result = action();
  if (!result || typeof result.then !== 'function') return result;
  control.disabled = true;
  control.setAttribute('aria-busy', 'true');
  return result.catch(showFailure).finally(() => {
    control.disabled = false;
    control.removeAttribute('aria-busy');
  });
}

// Builds an element: el('td', {class: 'number'}, 'text', child...). Text is set as
// text, never as markup (names on the phone may hold anything). A button's onclick
// and a form's onsubmit run through act().
export function el(name, attributes = {}, ...children) {
  const element = document.createElement(name);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'onclick' && name === 'button') element.addEventListener('click', (event) => act(element, () => value(event)));
    else if (key === 'onsubmit') element.addEventListener('submit', (event) => {
      event.preventDefault();
      act(element.querySelector('button[type=submit]') || element, () => value(event));
    });
    else if (key.startsWith('on')) element.addEventListener(key.slice(2), value);
    else if (value !== false && value != null) element.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) if (child != null) element.append(child);
  return element;
}
