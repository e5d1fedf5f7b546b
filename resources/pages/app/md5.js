// MD5 of byte arrays, fed in pieces. The page runs on a plain-HTTP address, where browsers
// offer no digest API, so it carries its own.

const SHIFTS = new Uint8Array([
  7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
  5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20,
  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
]);
const CONSTANTS = new Int32Array(64);
for (let i = 0; i < 64; i++) {
  CONSTANTS[i] = Math.floor(Math.abs(Math.sin(i + 1)) * 4294967296) | 0;
}
// Which message word each of the 64 steps reads.
const WORD = new Uint8Array(64);
for (let i = 0; i < 64; i++) {
  if (i < 16) WORD[i] = i;
  else if (i < 32) WORD[i] = (5 * i + 1) % 16;
  else if (i < 48) WORD[i] = (3 * i + 5) % 16;
  else WORD[i] = (7 * i) % 16;
}

export class Md5 {
  constructor() {
    this.state = new Int32Array([0x67452301, 0xefcdab89 | 0, 0x98badcfe | 0, 0x10325476]);
    this.words = new Int32Array(16);
    this.pending = new Uint8Array(64); // bytes of a block not yet complete
    this.pendingLength = 0;
    this.length = 0; // bytes fed so far
  }

  update(bytes) {
    let offset = 0;
    this.length += bytes.length;
    if (this.pendingLength > 0) {
      const take = Math.min(64 - this.pendingLength, bytes.length);
      this.pending.set(bytes.subarray(0, take), this.pendingLength);
      this.pendingLength += take;
      offset = take;
      if (this.pendingLength < 64) return this;
      this.block(this.pending, 0);
      this.pendingLength = 0;
    }
    for (; offset + 64 <= bytes.length; offset += 64) {
      this.block(bytes, offset);
    }
    this.pending.set(bytes.subarray(offset), 0);
    this.pendingLength = bytes.length - offset;
    return this;
  }

  // 32 lower-case hex digits; the object is used up afterwards.
  hex() {
    const bits = this.length * 8;
    const tail = new Uint8Array(this.pendingLength < 56 ? 64 : 128);
    tail.set(this.pending.subarray(0, this.pendingLength));
    tail[this.pendingLength] = 0x80;
    const end = tail.length - 8;
    const low = bits % 4294967296;
    const high = Math.floor(bits / 4294967296);
    for (let i = 0; i < 4; i++) {
      tail[end + i] = (low >>> (8 * i)) & 0xff;
      tail[end + 4 + i] = (high >>> (8 * i)) & 0xff;
    }
    for (let offset = 0; offset < tail.length; offset += 64) this.block(tail, offset);
    let text = '';
    for (let i = 0; i < 4; i++) {
      for (let b = 0; b < 4; b++) {
        text += ((this.state[i] >>> (8 * b)) & 0xff).toString(16).padStart(2, '0');
      }
    }
    return text;
  }

  block(bytes, offset) {
    const x = this.words;
    for (let i = 0; i < 16; i++, offset += 4) {
      x[i] = bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) | (bytes[offset + 3] << 24);
    }
    const s = this.state;
    let a = s[0], b = s[1], c = s[2], d = s[3];
    // Four rounds of sixteen steps, each round with its own mixing function.
    let i = 0;
    for (; i < 16; i++) {
      const sum = (a + ((b & c) | (~b & d)) + CONSTANTS[i] + x[WORD[i]]) | 0;
      a = d; d = c; c = b;
      b = (b + ((sum << SHIFTS[i]) | (sum >>> (32 - SHIFTS[i])))) | 0;
    }
    for (; i < 32; i++) {
      const sum = (a + ((d & b) | (~d & c)) + CONSTANTS[i] + x[WORD[i]]) | 0;
      a = d; d = c; c = b;
      b = (b + ((sum << SHIFTS[i]) | (sum >>> (32 - SHIFTS[i])))) | 0;
    }
    for (; i < 48; i++) {
      const sum = (a + (b ^ c ^ d) + CONSTANTS[i] + x[WORD[i]]) | 0;
      a = d; d = c; c = b;
      b = (b + ((sum << SHIFTS[i]) | (sum >>> (32 - SHIFTS[i])))) | 0;
    }
    for (; i < 64; i++) {
      const sum = (a + (c ^ (b | ~d)) + CONSTANTS[i] + x[WORD[i]]) | 0;
      a = d; d = c; c = b;
      b = (b + ((sum << SHIFTS[i]) | (sum >>> (32 - SHIFTS[i])))) | 0;
    }
    s[0] = (s[0] + a) | 0;
    s[1] = (s[1] + b) | 0;
    s[2] = (s[2] + c) | 0;
    s[3] = (s[3] + d) | 0;
  }
}

export function md5Hex(bytes) {
  return new Md5().update(bytes).hex();
}
