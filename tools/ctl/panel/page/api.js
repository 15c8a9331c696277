// Requests to vorlund-ctl with the panel's key: JSON in, JSON out; a refusal becomes an Error
// with the server's words, no answer at all an Unreachable.
//
// vorlund-ctl hands the key over once in the address's fragment, which no browser sends to any
// server; the tab keeps it in sessionStorage (this origin only, port included) and sends it in a
// header with every API call. No cookie carries it: cookies ignore ports, so another local
// server would receive it.
export class Unreachable extends Error {}

const keyHeader = 'X-Vorlund-Key';

export function panelKey() {
  const given = /[#&]key=([0-9a-f]+)/.exec(location.hash);
  if (given) {
    sessionStorage.setItem('vorlundKey', given[1]);
    history.replaceState(null, '', location.pathname);
  }
  return sessionStorage.getItem('vorlundKey') || '';
}

async function keyedFetch(path, options = {}) {
  try {
    return await fetch(path, { ...options, cache: 'no-store',
                               headers: { ...options.headers, [keyHeader]: panelKey() } });
  } catch {
    throw new Unreachable('vorlund-ctl does not answer');
  }
}

// A GET, or a POST of `body` as JSON; resolves with the parsed answer.
export async function call(path, body) {
  const options = body === undefined ? {} : {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) };
  const response = await keyedFetch(path, options);
  const text = await response.text();
  if (!response.ok) throw new Error(text.trim() || response.statusText);
  return JSON.parse(text);
}

// Server-sent events read through fetch, since EventSource cannot send the key's header. Calls
// onEvent with each event's parsed data; onLost when the stream ends or cannot start, then
// tries again every two seconds.
export async function keyedEvents(path, onEvent, onLost) {
  for (;;) {
    try {
      const response = await keyedFetch(path);
      if (!response.ok) throw new Error(response.statusText);
      const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
      let rest = '';
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        rest += value;
        let end;
        while ((end = rest.indexOf('\n\n')) >= 0) {
          const data = rest.slice(0, end).split('\n').filter((l) => l.startsWith('data:'))
                           .map((l) => l.slice(5)).join('\n');
          rest = rest.slice(end + 2);
          if (data) onEvent(JSON.parse(data));
        }
      }
    } catch { /* reported below */ }
    onLost();
    await new Promise((resolve) => setTimeout(resolve, 2000));
  }
}
