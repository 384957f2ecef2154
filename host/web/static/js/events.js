// The server's events (progress, the connection's state), read once for the whole
// page and handed to every listener. Read with fetch, not EventSource, which cannot
// send the token's header.
import { authorization } from './api.js';

const listeners = new Set();
let stateListener = () => {};

// Calls `listener` with each event until the returned function is called, or
// `signal` (a view's) is aborted.
export function listen(listener, signal) {
  listeners.add(listener);
  const stop = () => listeners.delete(listener);
  if (signal) signal.addEventListener('abort', stop, { once: true });
  return stop;
}

// `listener(answering, status)` hears whether the stream is open (status: the HTTP
// status that refused it, 0 when the server did not answer).
export const onStreamState = (listener) => { stateListener = listener; };

async function readStream() {
  const response = await fetch('/api/events', { headers: authorization(), credentials: 'omit' });
  if (!response.ok) return response.status;
  stateListener(true, 200);
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let pending = '';
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return 0;
    pending += value;
    let end;
    while ((end = pending.indexOf('\n\n')) >= 0) {
      const block = pending.slice(0, end);
      pending = pending.slice(end + 2);
      for (const line of block.split('\n'))
        if (line.startsWith('data: ')) for (const listener of [...listeners]) listener(JSON.parse(line.slice(6)));
    }
  }
}

// Reads the events as long as the page is open, again after a pause when the stream
// ends; not again when the server refused the page's token (a reload will not help).
export async function startEvents() {
  for (;;) {
    let status = 0;
    try { status = await readStream(); } catch { /* the server went away */ }
    stateListener(false, status);
    if (status === 401) return;
    await new Promise((resume) => setTimeout(resume, 3000));
  }
}
