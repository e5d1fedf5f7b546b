// Computes photo tokens off the page's thread; several run at once on phones with the cores.

import { photoToken } from '/app/token.js';

self.onmessage = async (event) => {
  const { file } = event.data;
  try {
    self.postMessage(await photoToken(file));
  } catch (e) {
    self.postMessage({ error: String(e) });
  }
};
