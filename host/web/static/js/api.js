// The server's JSON API. The token travels in the cookie the server set when the
// page was opened with it; errors come back as {"error": message}.
export class ApiError extends Error {
  constructor(status, message) { super(message); this.status = status; }
}

export async function api(path, options = {}) {
  const response = await fetch('/api/' + path, { credentials: 'same-origin', ...options });
  const type = response.headers.get('Content-Type') || '';
  const body = type.startsWith('application/json') ? await response.json() : null;
  if (!response.ok) throw new ApiError(response.status, body && body.error ? body.error : response.statusText);
  return body;
}

// A name for one operation (its X-Operation header), so that its Cancel reaches it
// alone, not another tab's. (getRandomValues, not randomUUID: a page served on another
// address than loopback with --bind is no secure context, and randomUUID is only
// given to those.)
export const operationName = () => Array.from(crypto.getRandomValues(new Uint8Array(16)),
  (byte) => byte.toString(16).padStart(2, '0')).join('');

export const query = (name, value) => name + '=' + encodeURIComponent(value);

export function humanSize(bytes) {
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes, unit = 0;
  while (value >= 1024 && unit < units.length - 1) { value /= 1024; unit++; }
  return (unit ? value.toFixed(1) : String(value)) + ' ' + units[unit];
}

// Builds an element: el('td', {class: 'number'}, 'text', child...). Text is set as
// text, never as markup (names on the phone may hold anything).
export function el(name, attributes = {}, ...children) {
  const element = document.createElement(name);
  for (const [key, value] of Object.entries(attributes)) {
    if (key.startsWith('on')) element.addEventListener(key.slice(2), value);
    else if (value !== false && value != null) element.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) if (child != null) element.append(child);
  return element;
}
