// Debian's Chromium, headless, on a fresh profile, through playwright-core.
import { chromium } from 'playwright-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export async function launchBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'kelvarn-webhost-chromium-'));
  const args = ['--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'];
  if (process.getuid?.() === 0) args.push('--no-sandbox');
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.KELVARN_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args,
    viewport: { width: 1000, height: 700 },
  });
  return {
    context,
    async close() {
      await context.close().catch(() => {});
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Waits until the page has decoded frames of the desktop; their count.
export async function waitForFrames(page, atLeast = 5) {
  await page.waitForFunction(
    (count) => Number(document.getElementById('frames-decoded').textContent) >= count,
    atLeast,
    { timeout: 30000, polling: 200 },
  );
  return Number(await page.textContent('#frames-decoded'));
}

// Where the desktop's picture lies in the page (the video shows it whole).
export function pictureBox(page) {
  return page.$eval('#desktop', (video) => {
    const box = video.getBoundingClientRect();
    const scale = Math.min(box.width / video.videoWidth, box.height / video.videoHeight);
    const width = video.videoWidth * scale;
    const height = video.videoHeight * scale;
    return {
      left: box.left + (box.width - width) / 2,
      top: box.top + (box.height - height) / 2,
      width,
      height,
      videoWidth: video.videoWidth,
      videoHeight: video.videoHeight,
    };
  });
}

// The mean colour of a PNG screenshot, decoded by the browser on a blank page.
export async function meanColour(context, png) {
  const page = await context.newPage();
  try {
    return await page.evaluate(async (base64) => {
      const image = new Image();
      image.src = `data:image/png;base64,${base64}`;
      await image.decode();
      const canvas = new OffscreenCanvas(image.width, image.height);
      const drawing = canvas.getContext('2d');
      drawing.drawImage(image, 0, 0);
      const { data } = drawing.getImageData(0, 0, image.width, image.height);
      const sums = [0, 0, 0];
      for (let i = 0; i < data.length; i += 4) for (let c = 0; c < 3; c += 1) sums[c] += data[i + c];
      return sums.map((sum) => sum / (data.length / 4));
    }, png.toString('base64'));
  } finally {
    await page.close();
  }
}
