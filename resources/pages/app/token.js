// The photo token a phone sends with "/verify" and "/import": Base64 of four fields joined by
// "|" -- the content's MD5, the size in bytes, the photo time in seconds since 1970 (the PC
// dates the received file with it) and the origin "web". The same file always gives the same
// token, so photos chosen again are recognised before anything is sent.

import { Md5 } from '/app/md5.js';

// Small enough that the page answers between pieces while a backup runs.
// Hashing goes in slices with a pause between them, so the page stays responsive.
const SLICE = 2 * 1024 * 1024;
const EXIF_WINDOW = 128 * 1024;

// Seconds of the EXIF capture date read as this phone's local time; 0 when there is none.
export function exifSeconds(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (view.byteLength < 4 || view.getUint16(0) !== 0xffd8) return 0;
  let pos = 2;
  while (pos + 4 <= view.byteLength) {
    const marker = view.getUint16(pos);
    if ((marker & 0xff00) !== 0xff00 || marker === 0xffda) return 0;
    const length = view.getUint16(pos + 2);
    if (length < 2) return 0;
    if (marker === 0xffe1 && pos + 10 <= view.byteLength && view.getUint32(pos + 4) === 0x45786966) {
      return tiffDate(view, pos + 10, Math.min(view.byteLength, pos + 2 + length));
    }
    pos += 2 + length;
  }
  return 0;
}

function tiffDate(view, base, end) {
  if (base + 8 > end) return 0;
  const order = view.getUint16(base);
  if (order !== 0x4949 && order !== 0x4d4d) return 0;
  const little = order === 0x4949;
  const u16 = (at) => (at + 2 <= end ? view.getUint16(at, little) : -1);
  const u32 = (at) => (at + 4 <= end ? view.getUint32(at, little) : -1);
  // Tag -> offset of its value text, for ASCII tags in one directory.
  const readDirectory = (offset) => {
    const tags = new Map();
    const count = u16(base + offset);
    if (offset <= 0 || count < 0 || count > 1000) return tags;
    for (let i = 0; i < count; i++) {
      const entry = base + offset + 2 + i * 12;
      const tag = u16(entry);
      if (tag < 0) break;
      tags.set(tag, { type: u16(entry + 2), count: u32(entry + 4), value: u32(entry + 8) });
    }
    return tags;
  };
  const text = (entry) => {
    if (!entry || entry.type !== 2 || entry.count < 19 || base + entry.value + 19 > end) return '';
    let out = '';
    for (let i = 0; i < 19; i++) out += String.fromCharCode(view.getUint8(base + entry.value + i));
    return out;
  };
  const first = readDirectory(u32(base + 4));
  const exifPointer = first.get(0x8769);
  const exif = exifPointer ? readDirectory(exifPointer.value) : new Map();
  for (const candidate of [text(exif.get(0x9003)), text(exif.get(0x9004)), text(first.get(0x0132))]) {
    const m = /^(\d{4}):(\d{2}):(\d{2}) (\d{2}):(\d{2}):(\d{2})$/.exec(candidate);
    if (!m || m[1] === '0000') continue;
    const date = new Date(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]);
    if (!Number.isNaN(date.getTime())) return Math.floor(date.getTime() / 1000);
  }
  return 0;
}

export function makeToken(md5hex, size, seconds) {
  return btoa(`${md5hex.toUpperCase()}|${size}|${seconds}|web`);
}

// The whole file in one read: reading in pieces costs a round trip to the browser's file store
// per piece, which on a busy phone takes longer than hashing the piece.
export function readFile(file) {
  return file.arrayBuffer().then((buffer) => new Uint8Array(buffer));
}

// Lets events (upload progress, answers, taps) run; quicker than a timer.
function yieldToPage() {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(0);
  });
}

// The token of a file whose bytes were read; resolves to { token, seconds }.
export async function tokenOf(file, bytes) {
  const md5 = new Md5();
  for (let at = 0; at < bytes.length; at += SLICE) {
    md5.update(bytes.subarray(at, at + SLICE));
    if (at + SLICE < bytes.length) await yieldToPage();
  }
  let seconds = exifSeconds(bytes.subarray(0, EXIF_WINDOW));
  if (!seconds) seconds = Math.floor((file.lastModified || Date.now()) / 1000);
  return { token: makeToken(md5.hex(), bytes.length, seconds), seconds };
}

export async function photoToken(file) {
  return tokenOf(file, await readFile(file));
}

// Tokens from a few workers at once; on the page's own thread when workers are unavailable.
export class HashPool {
  constructor(size) {
    this.idle = [];
    this.workers = [];
    this.waiting = [];
    this.broken = false;
    try {
      for (let i = 0; i < size; i++) {
        const worker = new Worker('/app/hash-worker.js', { type: 'module' });
        worker.onmessage = (event) => this.finished(worker, event.data);
        worker.onerror = (event) => this.failed(worker, event);
        this.workers.push(worker);
        this.idle.push(worker);
      }
    } catch (e) {
      this.close();
      this.broken = true;
    }
  }

  token(file) {
    if (this.broken) return photoToken(file);
    return new Promise((resolve, reject) => {
      this.waiting.push({ file, resolve, reject });
      this.dispatch();
    });
  }

  dispatch() {
    while (!this.broken && this.idle.length > 0 && this.waiting.length > 0) {
      const worker = this.idle.pop();
      worker.job = this.waiting.shift();
      worker.postMessage({ file: worker.job.file });
    }
  }

  finished(worker, result) {
    const job = worker.job;
    worker.job = null;
    this.idle.push(worker);
    this.dispatch();
    if (!job) return;
    if (result.error) job.reject(new Error(result.error));
    else job.resolve(result);
  }

  // A worker that cannot run (no module workers in this browser): the rest is hashed here.
  failed(worker, event) {
    event.preventDefault();
    this.broken = true;
    const jobs = this.workers.map((w) => w.job).filter(Boolean).concat(this.waiting.splice(0));
    this.close();
    for (const job of jobs) photoToken(job.file).then(job.resolve, job.reject);
  }

  close() {
    for (const worker of this.workers) worker.terminate();
    this.workers = [];
    this.idle = [];
  }
}
