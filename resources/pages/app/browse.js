// The PC's library on the phone: its devices, the time line (years, months, days) with
// thumbnails, a full view and the photo's details. Everything the library supplies is put on
// the page as text, never as markup.

import { keyed, requestJson, decodeName, RefusedError } from '/app/api.js';

const THUMB_SIZE = 200;

// Chinese names for the details the PC reads from a photo; others keep the PC's name.
const EXIF_LABELS = {
  TakenTime: '拍摄时间', DateTime: '日期时间', EquipMake: '相机品牌', EquipModel: '相机型号',
  ImageSize: '尺寸', Orientation: '方向', ExposureTime: '曝光时间', FNumber: '光圈',
  ISOSpeed: 'ISO', FocalLength: '焦距', Flash: '闪光灯', ExposureBias: '曝光补偿',
  ExposureProg: '曝光程序', MeteringMode: '测光模式', WhiteBalance: '白平衡',
  LightSource: '光源', ShutterSpeed: '快门速度', Aperture: '光圈值', MaxAperture: '最大光圈',
  SubjectDist: '对焦距离', Brightness: '亮度', ColorSpace: '色彩空间',
  XResolution: '水平分辨率', YResolution: '垂直分辨率', SoftwareUsed: '软件',
  Description: '描述', Artist: '作者', ImageTitle: '标题', Copyright: '版权',
};

function exifValue(name, value) {
  if (name === 'TakenTime' && Number.isFinite(Number(value)) && Number(value) > 0) {
    return new Date(Number(value) * 1000).toLocaleString('zh-CN');
  }
  return typeof value === 'object' ? JSON.stringify(value) : String(value);
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function asList(answer) {
  return Array.isArray(answer) ? answer.map(String) : [];
}

// Newest first; the library lists names as zero-padded numbers.
function newestFirst(names) {
  return names.slice().sort((a, b) => Number(b) - Number(a) || (a < b ? 1 : -1));
}

export class Browser {
  constructor(view, viewer, onRefused) {
    this.view = view;
    this.viewer = viewer;
    this.onRefused = onRefused;
    this.devices = view.querySelector('#device-list');
    this.years = view.querySelector('#year-list');
    this.status = view.querySelector('#browse-status');
    this.timeline = view.querySelector('#timeline');
    this.generation = 0;
    viewer.querySelector('#viewer-close').addEventListener('click', () => this.closeViewer());
    viewer.querySelector('#viewer-info').addEventListener('click', () => this.toggleExif());
  }

  async get(path) {
    try {
      return await requestJson(keyed(path));
    } catch (e) {
      if (e instanceof RefusedError) this.onRefused();
      throw e;
    }
  }

  async show() {
    const generation = ++this.generation;
    this.status.textContent = '正在读取电脑上的照片…';
    this.status.className = 'status';
    try {
      const [devices, years] = await Promise.all([this.get('/devices'), this.get('/time')]);
      if (generation !== this.generation) return;
      this.showDevices(devices || {});
      const list = newestFirst(asList(years));
      this.years.replaceChildren(...list.map((year) => {
        const button = element('button', '', `${year}年`);
        button.type = 'button';
        button.dataset.year = year;
        button.setAttribute('aria-pressed', 'false');
        button.addEventListener('click', () => this.showYear(year));
        return button;
      }));
      if (list.length === 0) {
        this.timeline.replaceChildren();
        this.status.textContent = '电脑上还没有照片。';
        return;
      }
      this.status.textContent = '';
      await this.showYear(list[0]);
    } catch (e) {
      this.status.textContent = '无法读取电脑上的照片，请检查网络后重试。';
      this.status.className = 'status error';
    }
  }

  showDevices(devices) {
    const chips = [];
    for (const [key, device] of Object.entries(devices)) {
      const name = decodeName(device && device.name ? String(device.name) : '') || key;
      const count = device && Array.isArray(device.imgs) ? device.imgs.length : 0;
      const chip = element('span', 'device', `${name} · ${count} 张`);
      chip.dataset.key = key;
      chips.push(chip);
    }
    this.devices.replaceChildren(...chips);
  }

  async showYear(year) {
    const generation = ++this.generation;
    for (const button of this.years.children) {
      button.setAttribute('aria-pressed', button.dataset.year === year ? 'true' : 'false');
    }
    this.timeline.replaceChildren();
    const months = newestFirst(asList(await this.get(`/time/${year}`)));
    for (const month of months) {
      if (generation !== this.generation) return;
      const section = element('section', 'month');
      section.append(element('h3', '', `${year}年${Number(month)}月`));
      this.timeline.append(section);
      const days = newestFirst(asList(await this.get(`/time/${year}/${month}`)));
      const lists = await Promise.all(days.map((day) => this.get(`/time/${year}/${month}/${day}`)));
      if (generation !== this.generation) return;
      days.forEach((day, i) => section.append(this.dayBlock(year, month, day, lists[i])));
    }
  }

  dayBlock(year, month, day, pids) {
    const block = element('div', 'day');
    const photos = Array.isArray(pids) ? pids : [];
    block.append(element('h4', '', `${Number(month)}月${Number(day)}日 · ${photos.length} 张`));
    const grid = element('div', 'grid');
    for (const pid of photos) {
      const id = String(pid);
      if (!/^-?\d+$/.test(id)) continue;
      const button = element('button');
      button.type = 'button';
      button.dataset.pid = id;
      const img = element('img');
      img.loading = 'lazy';
      img.decoding = 'async';
      img.alt = `${year}-${month}-${day}`;
      img.src = keyed(`/thumb/${id}`, { w: THUMB_SIZE, h: THUMB_SIZE });
      button.append(img);
      button.addEventListener('click', () => this.openViewer(id, img.alt));
      grid.append(button);
    }
    block.append(grid);
    return block;
  }

  openViewer(pid, title) {
    const image = this.viewer.querySelector('#viewer-image');
    const table = this.viewer.querySelector('#viewer-exif');
    this.viewer.querySelector('#viewer-title').textContent = title;
    table.hidden = true;
    table.tBodies[0].replaceChildren();
    image.src = keyed(`/image/${pid}`);
    this.viewer.dataset.pid = pid;
    this.viewer.hidden = false;
  }

  closeViewer() {
    this.viewer.hidden = true;
    this.viewer.querySelector('#viewer-image').removeAttribute('src');
  }

  async toggleExif() {
    const table = this.viewer.querySelector('#viewer-exif');
    if (!table.hidden) {
      table.hidden = true;
      return;
    }
    const body = table.tBodies[0];
    body.replaceChildren();
    let exif = null;
    try {
      exif = await this.get(`/exif/${this.viewer.dataset.pid}`);
    } catch (e) {
      exif = null;
    }
    const rows = exif && typeof exif === 'object' ? Object.entries(exif) : [];
    if (rows.length === 0) rows.push(['', '没有详细信息']);
    for (const [name, value] of rows) {
      const row = element('tr');
      row.append(element('td', '', EXIF_LABELS[name] || name));
      row.append(element('td', '', exifValue(name, value)));
      body.append(row);
    }
    table.hidden = false;
  }
}
