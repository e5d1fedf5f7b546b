// The page: pairing, the backup of chosen photos and the tabs. Pairing once keeps only the
// device key in this browser; the password is never stored.

import { deviceKey, isPaired, setPaired, pair, describeBrowser, sendsVerbatim } from '/app/api.js';
import { BackupRun, State } from '/app/backup.js';
import { Browser } from '/app/browse.js';
import { formatSize, formatDuration } from '/app/format.js';

const $ = (id) => document.getElementById(id);

const STATE_TEXT = {
  [State.PREPARING]: '核对中',
  [State.QUEUED]: '等待上传',
  [State.SENDING]: '上传中',
  [State.SENT]: '等待电脑确认',
  [State.DONE]: '已备份',
  [State.KNOWN]: '电脑上已有',
  [State.FAILED]: '失败',
};

let browser = null;
let run = null;
let failedFiles = [];
let pendingRender = 0;

function showPairing(message, isError) {
  $('pair-view').hidden = false;
  $('main-view').hidden = true;
  const status = $('pair-status');
  status.textContent = message || '';
  status.className = isError ? 'status error' : 'status';
  if (!$('pair-name').value) $('pair-name').value = describeBrowser().model;
}

function showMain() {
  $('pair-view').hidden = true;
  $('main-view').hidden = false;
  $('paired-as').textContent = '已与这台电脑配对。选择照片后会自动备份，已在电脑上的照片不会重复上传。';
  selectTab('backup');
}

function refused() {
  setPaired(false);
  if (run) run.stop();
  showPairing('电脑不再接受这个浏览器，请重新输入配对密码。', true);
}

// Names go into the PC's query as they are; characters a browser must escape would arrive
// escaped, so they are left out.
function cleanName(text) {
  return Array.from(text).filter((ch) => sendsVerbatim(ch) && ch !== '%').join('').slice(0, 40);
}

async function pairWith(password) {
  const status = $('pair-status');
  if (!sendsVerbatim(password)) {
    status.textContent = '这个密码含有空格、中文或符号 " # & \' < >，浏览器无法原样发送。请在电脑上把配对密码改成只含字母和数字。';
    status.className = 'status error';
    return;
  }
  const type = describeBrowser().type;
  const model = cleanName($('pair-name').value.trim()) || describeBrowser().model;
  $('pair-button').disabled = true;
  status.textContent = '正在配对…';
  status.className = 'status';
  try {
    if (await pair(password, type, model)) {
      setPaired(true);
      showMain();
    } else {
      status.textContent = '配对密码不正确，请对照电脑上显示的密码重新输入。';
      status.className = 'status error';
    }
  } catch (e) {
    status.textContent = '无法连接电脑，请确认手机和电脑在同一网络中。';
    status.className = 'status error';
  } finally {
    $('pair-button').disabled = false;
    $('pair-password').value = '';
  }
}

function selectTab(name) {
  $('tab-backup').setAttribute('aria-selected', String(name === 'backup'));
  $('tab-browse').setAttribute('aria-selected', String(name === 'browse'));
  $('backup-view').hidden = name !== 'backup';
  $('browse-view').hidden = name !== 'browse';
  if (name === 'browse') browser.show();
}

function listItem(item) {
  let li = document.getElementById(`file-${item.index}`);
  if (!li) {
    li = document.createElement('li');
    li.id = `file-${item.index}`;
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = item.name;
    const state = document.createElement('span');
    state.className = 'state';
    li.append(name, state);
    $('backup-list').append(li);
  }
  return li;
}

function renderItem(item) {
  const li = listItem(item);
  let text = STATE_TEXT[item.state];
  if (item.state === State.SENDING && item.size > 0 && !item.report) {
    text += ` ${Math.floor((item.loaded / item.size) * 100)}%`;
  }
  if ((item.state === State.FAILED || item.state === State.QUEUED) && item.error) text += `：${item.error}`;
  li.className = item.state === State.DONE || item.state === State.KNOWN ? 'done' : item.state;
  li.lastChild.textContent = text;
}

function renderSummary(current) {
  pendingRender = 0;
  const done = current.count(State.DONE);
  const known = current.count(State.KNOWN);
  const failed = current.count(State.FAILED);
  const waiting = current.count(State.SENT);
  $('backup-bar').max = current.total || 1;
  $('backup-bar').value = done + known;
  let text = `已备份 ${done + known} / ${current.total} 张`;
  if (known) text += `（其中 ${known} 张电脑上已有）`;
  if (waiting) text += `，${waiting} 张等待电脑确认`;
  if (failed) text += `，${failed} 张失败`;
  $('backup-summary').textContent = text;
  $('backup-summary').className = failed ? 'status error' : 'status';
  const elapsed = current.elapsedSeconds();
  const bytes = current.uploadedBytes();
  const rate = elapsed > 0.5 ? bytes / elapsed : 0;
  const remaining = current.remainingBytes();
  let rateText = `已上传 ${formatSize(bytes)}`;
  if (rate > 0) rateText += `，速度 ${formatSize(rate)}/秒`;
  if (rate > 0 && remaining > 0) rateText += `，剩余约 ${formatDuration(remaining / rate)}`;
  $('backup-rate').textContent = rateText;
}

function onRunChange(current, item) {
  if (item) renderItem(item);
  else current.items.forEach(renderItem);
  // Progress events come fast; the summary is redrawn at most once a frame.
  if (!pendingRender) pendingRender = requestAnimationFrame(() => renderSummary(current));
}

async function startBackup(files) {
  if (run) run.stop();
  failedFiles = [];
  $('backup-list').replaceChildren();
  $('backup-progress').hidden = false;
  $('retry-button').hidden = true;
  $('photo-input').disabled = true;
  run = new BackupRun(files, onRunChange);
  document.body.dataset.backup = 'running';
  const finished = await run.start();
  if (finished !== run) return;
  renderSummary(finished);
  $('photo-input').disabled = false;
  failedFiles = finished.items.filter((item) => item.state === State.FAILED).map((item) => item.file);
  $('retry-button').hidden = failedFiles.length === 0 || finished.refused;
  document.body.dataset.backup = 'finished';
  if (finished.refused) refused();
}

function init() {
  deviceKey();
  browser = new Browser($('browse-view'), $('viewer'), refused);
  $('pair-form').addEventListener('submit', (event) => {
    event.preventDefault();
    pairWith($('pair-password').value);
  });
  $('tab-backup').addEventListener('click', () => selectTab('backup'));
  $('tab-browse').addEventListener('click', () => selectTab('browse'));
  $('photo-input').addEventListener('change', (event) => {
    const files = Array.from(event.target.files || []);
    event.target.value = '';
    if (files.length > 0) startBackup(files);
  });
  $('retry-button').addEventListener('click', () => {
    if (failedFiles.length > 0) startBackup(failedFiles);
  });
  $('unpair-button').addEventListener('click', () => {
    if (run) run.stop();
    setPaired(false);
    showPairing('');
  });

  window.addEventListener('hashchange', pairFromFragment);
  if (!pairFromFragment()) {
    if (isPaired()) showMain();
    else showPairing('');
  }
  document.body.dataset.ready = 'true';
}

// A QR code can carry the password in the address's fragment, which never reaches the PC.
// The fragment is taken off the address at once, so it stays out of the history.
function pairFromFragment() {
  const password = new URLSearchParams(location.hash.slice(1)).get('pair');
  if (location.hash) history.replaceState(null, '', location.pathname + location.search);
  if (password === null || password === '') return false;
  showPairing('');
  pairWith(password);
  return true;
}

init();
