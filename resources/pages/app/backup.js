// One backup run, as the phone app does it: tokens for the chosen photos, "/verify" to learn
// which the PC already holds, then one "/import" per photo, three at a time, with the run's
// counters. Photos the PC holds are reported with an empty body so they count for this device
// too. A photo counts as backed up only once the PC lists its token in "/verify", that is,
// after it was stored in the library, not merely received.

import { photoToken } from '/app/token.js';
import { keyed, requestJson, RefusedError } from '/app/api.js';

const PARALLEL = 3;
const VERIFY_BATCH = 6;
const ATTEMPTS = 3;
const CONFIRM_POLL_MS = 800;
const CONFIRM_PATIENCE_MS = 120000;

export const State = {
  PREPARING: 'preparing',
  QUEUED: 'queued',
  SENDING: 'sending',
  SENT: 'sent', // received by the PC, not yet in its library
  DONE: 'done',
  KNOWN: 'known', // the PC had it already
  FAILED: 'failed',
};

function fileName(file) {
  // The PC uses the name for the stored file; path separators and "|" have no place in it.
  const name = (file.name || '').replace(/[\\/|:*?"<>]/g, '_').trim();
  return name || 'photo.jpg';
}

export class BackupRun {
  constructor(files, onChange) {
    this.items = Array.from(files, (file, index) => ({
      index, file, name: fileName(file), size: file.size, token: '', seconds: 0,
      state: State.PREPARING, cur: 0, attempts: 0, loaded: 0, error: '', report: false,
    }));
    this.total = this.items.length;
    this.onChange = onChange;
    this.queue = [];
    this.active = 0;
    this.assigned = 0;
    this.preparing = true;
    this.stopped = false;
    this.refused = false;
    this.awaiting = new Set();
    this.lastConfirm = 0;
    this.confirmTimer = 0;
    this.sentBytes = 0; // bytes of finished uploads
    this.startTime = 0;
    this.finished = new Promise((resolve) => { this.resolveFinished = resolve; });
  }

  start() {
    this.startTime = performance.now();
    this.prepare().catch((e) => this.fail(e));
    return this.finished;
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.confirmTimer);
  }

  elapsedSeconds() {
    return (performance.now() - this.startTime) / 1000;
  }

  // Bytes uploaded so far, finished uploads and those in flight.
  uploadedBytes() {
    let bytes = this.sentBytes;
    for (const item of this.items) if (item.state === State.SENDING) bytes += item.loaded;
    return bytes;
  }

  // Bytes still to send: every photo not known to be on the PC and not yet received by it.
  remainingBytes() {
    let bytes = 0;
    for (const item of this.items) {
      if (item.state === State.PREPARING || item.state === State.QUEUED) bytes += item.report ? 0 : item.size;
      else if (item.state === State.SENDING && !item.report) bytes += item.size - item.loaded;
    }
    return bytes;
  }

  count(...states) {
    return this.items.filter((item) => states.includes(item.state)).length;
  }

  changed(item) {
    if (this.onChange) this.onChange(this, item);
  }

  async prepare() {
    for (let start = 0; start < this.items.length && !this.stopped; start += VERIFY_BATCH) {
      const batch = this.items.slice(start, start + VERIFY_BATCH);
      for (const item of batch) {
        if (this.stopped) return;
        try {
          const { token, seconds } = await photoToken(item.file);
          item.token = token;
          item.seconds = seconds;
        } catch (e) {
          item.state = State.FAILED;
          item.error = '无法读取这张照片';
          this.changed(item);
        }
      }
      const ready = batch.filter((item) => item.token && item.state === State.PREPARING);
      if (ready.length === 0) continue;
      const held = await this.verify(ready.map((item) => item.token));
      for (const item of ready) {
        item.report = held.has(item.token);
        item.state = State.QUEUED;
        this.queue.push(item);
        this.changed(item);
      }
      this.pump();
    }
    this.preparing = false;
    this.pump();
  }

  // The tokens the PC's library holds, of those asked; retried a few times before giving up.
  async verify(tokens) {
    for (let attempt = 1; ; attempt++) {
      try {
        const answer = await requestJson(keyed('/verify'), JSON.stringify(tokens));
        return new Set(answer && !Array.isArray(answer) ? Object.keys(answer) : []);
      } catch (e) {
        if (e instanceof RefusedError || attempt >= ATTEMPTS) throw e;
        await new Promise((resolve) => setTimeout(resolve, 1000 * attempt));
      }
    }
  }

  pump() {
    if (this.stopped) return;
    while (this.active < PARALLEL) {
      const index = this.queue.findIndex((item) => this.maySend(item));
      if (index < 0) break;
      const [item] = this.queue.splice(index, 1);
      if (!item.cur) item.cur = ++this.assigned;
      this.send(item);
    }
    this.checkFinished();
  }

  // The photo numbered last tells the PC the run is over, so it waits until every other photo
  // has been answered, retries included.
  maySend(item) {
    if (item.cur || this.assigned + 1 < this.total) return true;
    const open = [State.PREPARING, State.QUEUED, State.SENDING];
    return !this.items.some((other) => other !== item && open.includes(other.state));
  }

  send(item) {
    this.active++;
    item.state = State.SENDING;
    item.loaded = 0;
    item.attempts++;
    this.changed(item);
    const elapsed = this.elapsedSeconds();
    const speed = elapsed > 0 ? Math.round(this.uploadedBytes() / 1024 / elapsed) : 0;
    const url = keyed('/import', {
      name: item.name, vmd5: item.token, cur: item.cur, total: this.total,
      speed, time: Math.floor(elapsed),
    });
    const xhr = new XMLHttpRequest();
    xhr.open('POST', url);
    xhr.timeout = 10 * 60 * 1000;
    xhr.upload.onprogress = (event) => {
      item.loaded = event.loaded;
      this.changed(item);
    };
    xhr.onload = () => this.answered(item, xhr.status, xhr.responseText);
    xhr.onerror = xhr.ontimeout = () => this.answered(item, 0, '');
    xhr.send(item.report ? null : item.file);
  }

  answered(item, status, text) {
    this.active--;
    if (this.stopped) return;
    let result = '';
    try {
      result = status === 200 ? JSON.parse(text).status : '';
    } catch (e) {
      result = '';
    }
    if (status === 403) {
      this.refused = true;
      this.fail(new RefusedError('refused'));
      return;
    }
    if (result === 'ok' && !item.report) {
      this.sentBytes += item.size;
      item.loaded = 0;
      item.state = State.SENT;
      this.awaiting.add(item);
      this.scheduleConfirm();
    } else if (result === 'duplication' && item.report) {
      item.state = State.KNOWN;
    } else if (result === 'failed' && item.report) {
      // The PC no longer has it (deleted since "/verify"): send the photo itself.
      item.report = false;
      item.attempts = 0;
      item.state = State.QUEUED;
      this.queue.unshift(item);
    } else if (item.attempts < ATTEMPTS) {
      item.state = State.QUEUED;
      item.error = status === 0 ? '连接中断，正在重试' : '电脑没有接收，正在重试';
      setTimeout(() => { this.queue.push(item); this.pump(); }, 1000 * item.attempts);
    } else {
      item.state = State.FAILED;
      item.error = status === 0 ? '连接中断' : '电脑没有接收';
    }
    this.changed(item);
    this.pump();
  }

  scheduleConfirm() {
    if (this.confirmTimer || this.stopped) return;
    if (!this.lastConfirm) this.lastConfirm = performance.now();
    this.confirmTimer = setTimeout(() => this.confirm(), CONFIRM_POLL_MS);
  }

  async confirm() {
    this.confirmTimer = 0;
    const waiting = Array.from(this.awaiting);
    if (waiting.length === 0 || this.stopped) return;
    let held = new Set();
    try {
      held = await this.verify(waiting.map((item) => item.token));
    } catch (e) {
      if (e instanceof RefusedError) { this.fail(e); return; }
    }
    for (const item of waiting) {
      if (held.has(item.token)) {
        item.state = State.DONE;
        this.awaiting.delete(item);
        this.lastConfirm = performance.now();
        this.changed(item);
      }
    }
    if (this.awaiting.size > 0 && performance.now() - this.lastConfirm > CONFIRM_PATIENCE_MS) {
      for (const item of this.awaiting) {
        item.state = State.FAILED;
        item.error = '电脑收到了，但没有存入照片库';
        this.changed(item);
      }
      this.awaiting.clear();
    }
    if (this.awaiting.size > 0) this.scheduleConfirm();
    this.checkFinished();
  }

  checkFinished() {
    if (this.preparing || this.active > 0 || this.queue.length > 0 || this.awaiting.size > 0) return;
    if (this.items.some((item) => item.state === State.SENDING || item.state === State.QUEUED)) return;
    this.stop();
    this.resolveFinished(this);
  }

  fail(error) {
    this.stop();
    for (const item of this.items) {
      if (item.state !== State.DONE && item.state !== State.KNOWN) {
        item.state = State.FAILED;
        item.error = error instanceof RefusedError ? '电脑不再接受这个浏览器' : '无法连接电脑';
      }
    }
    this.refused = error instanceof RefusedError;
    this.changed(null);
    this.resolveFinished(this);
  }
}
