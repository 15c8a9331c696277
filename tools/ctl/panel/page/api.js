// Requests to vorlund-ctl: JSON in, JSON out; a refusal becomes an Error with the server's words.
export class Unreachable extends Error {}

export async function call(path, body) {
  const options = body === undefined ? {} : {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) };
  let response;
  try {
    response = await fetch(path, options);
  } catch {
    throw new Unreachable('vorlund-ctl does not answer');
  }
  const text = await response.text();
  if (!response.ok) throw new Error(text.trim() || response.statusText);
  return JSON.parse(text);
}
