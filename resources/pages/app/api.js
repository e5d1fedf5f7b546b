// Talking to the PC the way a phone does: every request carries this browser's device key.
// Query values reach the PC as written (it does not decode them), so texts are sent with only
// the escapes a URL needs.

const KEY_ITEM = 'vellumo.deviceKey';
const PAIRED_ITEM = 'vellumo.paired';

let memoryKey = '';

function storage() {
  try {
    return window.localStorage;
  } catch (e) {
    return null; // storage switched off: the key lives as long as the page
  }
}

// The random key that names this browser to the PC, made once and kept.
export function deviceKey() {
  const store = storage();
  let key = store ? store.getItem(KEY_ITEM) : memoryKey;
  if (!key || !/^web[0-9a-f]{32}$/.test(key)) {
    const bytes = new Uint8Array(16);
    crypto.getRandomValues(bytes);
    key = 'web' + Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
    if (store) store.setItem(KEY_ITEM, key);
    memoryKey = key;
  }
  return key;
}

export function isPaired() {
  const store = storage();
  return !!store && store.getItem(PAIRED_ITEM) === deviceKey();
}

export function setPaired(paired) {
  const store = storage();
  if (!store) return;
  if (paired) store.setItem(PAIRED_ITEM, deviceKey());
  else store.removeItem(PAIRED_ITEM);
}

// Characters a browser would escape anyway, or that would end the value early.
const ESCAPED = /[\u0000-\u0020"#&'<>\u007f-\uffff]/;

// True when the text reaches the PC unchanged inside a query.
export function sendsVerbatim(text) {
  return !ESCAPED.test(text);
}

export function queryValue(text) {
  let out = '';
  for (const ch of String(text)) {
    // encodeURIComponent keeps "'", which the URL parser of a query escapes anyway.
    if (ch === "'") out += '%27';
    else out += ESCAPED.test(ch) ? encodeURIComponent(ch) : ch;
  }
  return out;
}

export function keyed(path, params = {}) {
  let url = `${path}?key=${deviceKey()}`;
  for (const [name, value] of Object.entries(params)) url += `&${name}=${queryValue(value)}`;
  return url;
}

export class RefusedError extends Error {}

// GET or POST; resolves to the parsed JSON answer (null for "null"). A 403 is a RefusedError:
// the PC no longer knows this browser.
export async function requestJson(url, body) {
  const options = { cache: 'no-store', credentials: 'omit' };
  if (body !== undefined) {
    options.method = 'POST';
    options.body = body;
  }
  const answer = await fetch(url, options);
  const text = await answer.text();
  if (answer.status === 403) throw new RefusedError('refused');
  if (!answer.ok) throw new Error(`HTTP ${answer.status}`);
  return text.trim() === '' ? null : JSON.parse(text);
}

// Pairs with the password; resolves to true when the PC accepted it.
export async function pair(password, type, model) {
  const url = `/auth?key=${deviceKey()}&passwd=${queryValue(password)}&type=${type}&modal=${queryValue(model)}`;
  try {
    const answer = await requestJson(url);
    return !!answer && answer.status === 'ok';
  } catch (e) {
    if (e instanceof RefusedError) return false;
    throw e;
  }
}

// Base64 of UTF-8 text, as the PC sends names, decoded to text.
export function decodeName(base64) {
  try {
    const raw = atob(base64);
    const bytes = Uint8Array.from(raw, (c) => c.charCodeAt(0));
    return new TextDecoder('utf-8').decode(bytes);
  } catch (e) {
    return '';
  }
}

// A type (1 for iPhone and iPad, 0 for everything else) and a name for this browser, such as
// "Chrome-Android", which the PC shows in its device list and uses for the photo folder.
export function describeBrowser(agent = navigator.userAgent) {
  const ios = /iPhone|iPad|iPod/.test(agent) || (/Macintosh/.test(agent) && navigator.maxTouchPoints > 1);
  let browser = 'Browser';
  if (/EdgA?|EdgiOS/.test(agent)) browser = 'Edge';
  else if (/Firefox|FxiOS/.test(agent)) browser = 'Firefox';
  else if (/MicroMessenger/.test(agent)) browser = 'WeChat';
  else if (/Chrome|CriOS|Chromium/.test(agent)) browser = 'Chrome';
  else if (/Safari/.test(agent)) browser = 'Safari';
  let system = 'Web';
  if (/iPad/.test(agent)) system = 'iPad';
  else if (ios) system = 'iPhone';
  else if (/Android/.test(agent)) system = 'Android';
  else if (/Windows/.test(agent)) system = 'Windows';
  else if (/Mac OS/.test(agent)) system = 'Mac';
  else if (/Linux/.test(agent)) system = 'Linux';
  return { type: ios ? 1 : 0, model: `${browser}-${system}` };
}
