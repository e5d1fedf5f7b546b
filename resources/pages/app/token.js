// The photo token a phone sends with "/verify" and "/import": Base64 of four fields joined by
// "|" -- the content's MD5, the size in bytes, the photo time in seconds since 1970 (the PC
// dates the received file with it) and the origin "web". The same file always gives the same
// token, so photos chosen again are recognised before anything is sent.

import { Md5 } from '/app/md5.js';

const CHUNK = 2 * 1024 * 1024;
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

// Reads the file once in pieces; resolves to { token, seconds }.
export async function photoToken(file) {
  const md5 = new Md5();
  let seconds = 0;
  for (let offset = 0; offset < file.size || offset === 0; offset += CHUNK) {
    const bytes = new Uint8Array(await file.slice(offset, offset + CHUNK).arrayBuffer());
    if (offset === 0) seconds = exifSeconds(bytes.subarray(0, EXIF_WINDOW));
    md5.update(bytes);
    if (file.size === 0) break;
  }
  if (!seconds) seconds = Math.floor((file.lastModified || Date.now()) / 1000);
  return { token: makeToken(md5.hex(), file.size, seconds), seconds };
}
